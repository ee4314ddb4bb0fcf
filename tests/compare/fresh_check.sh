#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# compare_check.py on captures made now, against a real Derby Network Server
# on 127.0.0.1:31517, rather than on the ones in tests/data/compare.
#
#     tests/compare/fresh_check.sh DSSVIEW WORKDIR
#
# Runs only with DSSVIEW_DERBY_TESTS=1 (it takes about a minute of Java and
# the timing of a loaded machine can move a twin run's statement), and when
# Java, javac, Derby and tcpdump are installed (scripts/install-deps.sh with
# DSSVIEW_WITH_DERBY=1); otherwise status 77, skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ "${DSSVIEW_DERBY_TESTS:-0}" = 1 ] || exit 77
for tool in java javac; do command -v "$tool" >/dev/null || exit 77; done
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || exit 77
for jar in derby derbynet derbytools derbyclient; do [ -f "/usr/share/java/$jar.jar" ] || exit 77; done
rm -rf "$2" && mkdir -p "$2/data/compare"
timeout 600 "$here/make_captures.sh" "$2/data/compare" 31517
python3 "$here/../compare_check.py" "$1" "$2/data" "$2/work"
