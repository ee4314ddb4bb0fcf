#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Throughput of dssview's listing against xxd on the same bytes.
#
#   bench/run.sh path/to/dssview [--mib N] [--runs N] [--real DIR] [--conversations]
#                [-- dssview options]
#
# Builds (once) a trace holding at least N MiB of traced buffers (default
# 256) with bench/make_trace.py, plus a file of exactly those buffer bytes.
# Then runs, alternately and several times (default 5), dssview on the trace
# and xxd on the buffer bytes, both writing to /dev/null, and prints the
# median wall time, the throughput in MiB of buffer data per second, the
# ratio, the median user + system times (steadier than wall times on a
# loaded machine) and dssview's peak resident memory (/usr/bin/time -v).
#
# Options after "--" go to dssview, e.g. "-- -f" to time the decoder too.
# --conversations builds the trace from the real traces only, whole and in
# order (make_trace.py --conversations): the rows-heavy input for "-- -r".
# Generated files go to $BENCH_DIR (default: build/bench in the source tree)
# and are reused while the size and the seed stay the same.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { sed -n '2,20p' "$0"; exit 2; }
dssview=$(realpath "$1")
shift
mib=256
runs=5
real=()
kind=mixed
conv=()
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --mib) mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --real) real+=(--real "$2"); shift 2 ;;
    --conversations) kind=conv; conv=(--conversations); shift ;;
    --) shift; extra=("$@"); break ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[ -x "$dssview" ] || { echo "not an executable: $dssview" >&2; exit 2; }
command -v xxd >/dev/null || { echo "xxd not found" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found" >&2; exit 2; }

dir=${BENCH_DIR:-$here/../build/bench}
mkdir -p "$dir"
name=bench-${mib}m
[ "$kind" = conv ] && name=conversations-${mib}m
trace=$dir/$name.drdadbg
buffers=$dir/$name.bin
if [ ! -s "$trace" ] || [ ! -s "$buffers" ]; then
  python3 "$here/make_trace.py" "$trace" "$buffers" --mib "$mib" "${real[@]}" "${conv[@]}"
fi
bytes=$(stat -c %s "$buffers")

# Runs a command under /usr/bin/time -v with stdout to /dev/null; prints
# "milliseconds peak_kib cpu_milliseconds".
measure() {
  local log
  log=$(mktemp)
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -v -o "$log" "$@" >/dev/null
  t1=$(date +%s%N)
  local rss
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  local cpu
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%d", s * 1000}' "$log")
  rm -f "$log"
  echo "$(( (t1 - t0) / 1000000 )) $rss $cpu"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# Warm the page cache.
cat "$trace" "$buffers" >/dev/null

d_ms=() x_ms=() d_rss=() d_cpu=() x_cpu=()
for ((i = 1; i <= runs; i++)); do
  read -r ms rss cpu < <(measure "$dssview" "${extra[@]}" "$trace")
  d_ms+=("$ms"); d_rss+=("$rss"); d_cpu+=("$cpu")
  read -r ms rss cpu < <(measure xxd "$buffers")
  x_ms+=("$ms"); x_cpu+=("$cpu")
  echo "run $i: dssview ${d_ms[-1]} ms, xxd $ms ms" >&2
done

dm=$(printf '%s\n' "${d_ms[@]}" | median)
xm=$(printf '%s\n' "${x_ms[@]}" | median)
dc=$(printf '%s\n' "${d_cpu[@]}" | median)
xc=$(printf '%s\n' "${x_cpu[@]}" | median)
peak=$(printf '%s\n' "${d_rss[@]}" | sort -n | tail -1)
largest=$(python3 - "$trace" <<'EOF'
import struct, sys
d = open(sys.argv[1], "rb").read()
p, big = 11, 0
while p < len(d):
    (n,) = struct.unpack(">i", d[p + 1:p + 5]); p += 5 + n
    (c,) = struct.unpack(">i", d[p:p + 4]); p += 12 + c
    big = max(big, c)
print(big)
EOF
)

awk -v b="$bytes" -v dm="$dm" -v xm="$xm" -v dc="$dc" -v xc="$xc" -v peak="$peak" -v largest="$largest" \
    -v opts="${extra[*]:-}" -v runs="$runs" 'BEGIN {
  mib = b / 1048576
  printf "buffer data:        %.1f MiB (largest record %d bytes)\n", mib, largest
  printf "runs:               %d, medians below\n", runs
  printf "dssview %-10s  %8.3f s  %8.1f MiB/s  peak RSS %.1f MiB\n", opts, dm / 1000, mib / (dm / 1000), peak / 1024
  printf "xxd                 %8.3f s  %8.1f MiB/s\n", xm / 1000, mib / (xm / 1000)
  printf "ratio (xxd time / dssview time): %.2f\n", xm / dm
  printf "user + system:      dssview %.3f s, xxd %.3f s, ratio %.2f\n", dc / 1000, xc / 1000, (dc > 0 ? xc / dc : 0)
}'
