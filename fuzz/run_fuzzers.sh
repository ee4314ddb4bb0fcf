#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs every fuzz target for a bounded time and fails on any finding.
#
#   fuzz/run_fuzzers.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]
#
# BUILD_DIR is the build tree of the `fuzz` preset (build/fuzz). Each target
# starts from the committed corpus fuzz/corpus/<target> plus the seeds that
# fuzz/make_seeds.py writes (real traces from ../shared/traces when they are
# there, hand-built traces always), with the dictionary fuzz/dssview.dict.
# The committed corpus is never written: new inputs go to a work directory,
# $FUZZ_WORK (default: a temporary directory, removed at the end). Crash,
# leak, timeout and out-of-memory inputs land in $FUZZ_WORK/artifacts.
#
# Environment: FUZZ_WORK (keep the corpora and logs there), FUZZ_JOBS (how
# many targets run at once, default 1), FUZZ_MAX_LEN (override every
# target's input size limit), FUZZ_ARGS (extra libFuzzer options).
# Prints the executions of every target and exits non-zero when a target
# found anything.
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,19p' "$0" >&2
  exit 2
fi
build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(trace listing decoder dispatch rows sqlca tool_rows capture_file capture_reassembly capture_tool)

if [ -n "${FUZZ_WORK:-}" ]; then
  work=$FUZZ_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/artifacts" "$work/logs"

if [ ! -d "$work/seeds" ]; then
  if command -v python3 >/dev/null; then
    python3 "$here/make_seeds.py" "$work/seeds" >/dev/null
  else
    echo "run_fuzzers: python3 missing, starting from the committed corpus only"
  fi
fi

max_len_of() {
  if [ -n "${FUZZ_MAX_LEN:-}" ]; then echo "$FUZZ_MAX_LEN"; return; fi
  case $1 in
    dispatch) echo 2048 ;;
    capture_file|capture_tool) echo 16384 ;;
    *) echo 8192 ;;
  esac
}

# One target: its log in logs/<target>.log, its verdict in logs/<target>.result.
run_one() {
  local t=$1 bin="$build/fuzz/fuzz_$1" rc execs cov
  mkdir -p "$work/corpus/$t"
  # The tool with rows shown starts from the whole-trace inputs (and its
  # own findings).
  local from=$t
  [ "$t" = tool_rows ] && from=trace
  local dirs=("$work/corpus/$t")
  [ -d "$here/corpus/$from" ] && dirs+=("$here/corpus/$from")
  [ "$from" != "$t" ] && [ -d "$here/corpus/$t" ] && dirs+=("$here/corpus/$t")
  [ -d "$work/seeds/$from" ] && dirs+=("$work/seeds/$from")
  local log="$work/logs/$t.log"
  set +e
  # shellcheck disable=SC2086
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len_of "$t")" \
    -dict="$here/dssview.dict" -print_final_stats=1 -artifact_prefix="$work/artifacts/$t-" \
    ${FUZZ_ARGS:-} "${dirs[@]}" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
  cov=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 | sed -n 's/.*cov: \([0-9]*\).*/\1/p' || true)
  echo "$rc ${execs:-0} ${cov:-?}" >"$work/logs/$t.result"
}

for t in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/fuzz_$t" ]; then
    echo "run_fuzzers: $build/fuzz/fuzz_$t not built" >&2
    exit 2
  fi
done

# FUZZ_JOBS targets at a time (default 1), each a single process.
jobs=${FUZZ_JOBS:-1}
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait

status=0
total=0
for t in "${targets[@]}"; do
  rc=1 execs=0 cov=?
  [ -f "$work/logs/$t.result" ] && read -r rc execs cov <"$work/logs/$t.result"
  total=$(( total + execs ))
  if [ "$rc" -ne 0 ]; then
    echo "fuzz_$t: FINDING (exit $rc) after $execs executions; log: $work/logs/$t.log"
    grep -E 'ERROR|PROPERTY FAILED|SUMMARY|Test unit written' "$work/logs/$t.log" | head -20
    status=1
  else
    echo "fuzz_$t: $execs executions in $seconds s, cov: $cov, no finding"
  fi
done
echo "fuzz: $total executions in all"
if [ $status -ne 0 ] && [ -z "${FUZZ_WORK:-}" ]; then
  # Keep the evidence of a finding when the work directory is temporary.
  keep=$(mktemp -d /tmp/dssview-fuzz-XXXXXX)
  cp -r "$work/artifacts" "$work/logs" "$keep/"
  echo "fuzz: artifacts and logs kept in $keep"
fi
exit $status
