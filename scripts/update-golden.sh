#!/usr/bin/env bash
# Regenerates the golden listings from the release build. Review the diff
# (git diff tests/data/golden examples) before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/dssview}
export TZ=UTC
gen() {  # trace options expected
  local trace=$1 opts=$2 out=$3 src
  if [ -f "tests/data/$trace" ]; then src="tests/data/$trace"; else src="examples/$trace"; fi
  # shellcheck disable=SC2086
  "$bin" $opts "$src" > "tests/data/golden/$out"
}
gen s01_connect.req.drdadbg -f s01_connect.req.f.txt
gen s01_connect.srv.drdadbg -f s01_connect.srv.f.txt
gen s06_errors.req.drdadbg -f s06_errors.req.f.txt
gen s09_procedures.req.drdadbg -f s09_procedures.req.f.txt
gen s11_batch.split4096.req.drdadbg -f s11_batch.split4096.req.f.txt
gen s03_types.req.drdadbg "" s03_types.req.txt
for f in examples/*.drdadbg; do
  "$bin" -f "$f" > "${f%.drdadbg}.expected.txt"
done
