#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Makes new encrypted Derby captures and checks them: PYTHON DSSVIEW DIR.
set -e
here=$(dirname "$0")
rm -rf "$3"
mkdir -p "$3"
"$1" "$here/make_derby_tls.py" "$3" || exit $?
exec "$1" "$here/check_tls_captures.py" "$2" "$3"
