#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Regenerates the golden listings from the release build. Review the diff
# (git diff tests/data/golden examples) before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/dssview}
export TZ=UTC
for f in examples/*.drdadbg; do
  "$bin" -f "$f" > "${f%.drdadbg}.expected.txt"
done
"$bin" examples/s03_types.req.drdadbg > tests/data/golden/s03_types.req.txt
"$bin" examples/s01_connect.req.drdadbg > tests/data/s01_connect.req.listing.txt
for t in s01_connect.srv s09_procedures.req s11_batch.split4096.req; do
  "$bin" -f "tests/data/$t.drdadbg" > "tests/data/golden/$t.f.txt"
done
"$bin" -s examples/s06_errors.req.drdadbg > examples/s06_errors.req.summary.txt
"$bin" -j tests/data/s09_procedures.req.drdadbg > tests/data/golden/s09_procedures.req.j.txt
"$bin" -s examples/s01_connect.pcap > examples/s01_connect.pcap.summary.txt
