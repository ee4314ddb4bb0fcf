#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Makes new encrypted Derby captures and checks them: PYTHON DSSVIEW DIR.
set -e
# Starting a Derby server and recording it is slow and, on a loaded machine,
# can fail to connect: like compare_fresh_derby it runs on request only.
[ "${DSSVIEW_DERBY_TESTS:-0}" = 1 ] || exit 77
here=$(dirname "$0")
rm -rf "$3"
mkdir -p "$3"
"$1" "$here/make_derby_tls.py" "$3" || exit $?
exec "$1" "$here/check_tls_captures.py" "$2" "$3"
