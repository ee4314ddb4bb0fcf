#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# dssview on a packet capture against dssview on the same conversation as a
# trace file, and against tshark's decode with hex of the same capture.
#
#   bench/run_capture.sh path/to/dssview [--mib N] [--runs N] [--tshark-runs N]
#                        [--big-mib N] [--big-parallel K] [-- dssview options]
#
# Builds (once) with bench/make_capture.py a capture of at least N MiB
# (default 100) of many interleaved connections replayed from the real
# captures in tests/data/captures, and the requester's trace of the same
# conversation. Runs, alternately and several times (default 5), dssview on
# the capture and on the trace (options after "--", default -f), and tshark
# -V -x -r on the capture (default 3 runs), all writing to /dev/null; prints
# the median wall times, the ratios and the peak resident memory
# (/usr/bin/time -v). With --big-mib N (e.g. 1024) it also builds a capture
# of N MiB in $BIG_DIR (default /tmp) and reports dssview's peak memory on it
# against the largest record plus 16 MiB (--runs 0 does only that); K connections (default 64) are in
# progress at any moment in it.
# Generated files go to $BENCH_DIR (default: build/bench in the source tree)
# and are reused while the size stays the same.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { sed -n '2,21p' "$0"; exit 2; }
dssview=$(realpath "$1")
shift
mib=100
runs=5
truns=3
big=0
bigpar=64
opts=(-f)
while [ $# -gt 0 ]; do
  case "$1" in
    --mib) mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --tshark-runs) truns=$2; shift 2 ;;
    --big-mib) big=$2; shift 2 ;;
    --big-parallel) bigpar=$2; shift 2 ;;
    --) shift; opts=("$@"); break ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[ -x "$dssview" ] || { echo "not an executable: $dssview" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found" >&2; exit 2; }

dir=${BENCH_DIR:-$here/../build/bench}
mkdir -p "$dir"
cap=$dir/capture-${mib}m.pcap
trace=$dir/capture-${mib}m.drdadbg
if [ ! -s "$cap" ] || [ ! -s "$trace" ]; then
  python3 "$here/make_capture.py" "$cap" --trace "$trace" --mib "$mib"
fi

# Runs a command under /usr/bin/time -v with stdout to /dev/null; prints
# "wall_ms peak_kib cpu_ms" (cpu: user + system, steadier than wall time on
# a machine shared with other jobs).
measure() {
  local log t0 t1 rss cpu
  log=$(mktemp)
  t0=$(date +%s%N)
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>>"$log.err" || { cat "$log.err" >&2; rm -f "$log" "$log.err"; return 1; }
  t1=$(date +%s%N)
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%d", s * 1000}' "$log")
  rm -f "$log" "$log.err"
  echo "$(( (t1 - t0) / 1000000 )) $rss $cpu"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# The largest record of a trace (the buffer a reader must hold at once).
largest() {
  python3 - "$1" <<'EOF'
import struct, sys
with open(sys.argv[1], "rb") as f:
    d = f.read()
p, big = 11, 0
while p < len(d):
    (n,) = struct.unpack(">i", d[p + 1:p + 5]); p += 5 + n
    (c,) = struct.unpack(">i", d[p:p + 4]); p += 12 + c
    big = max(big, c)
print(big)
EOF
}

if [ "$runs" -gt 0 ]; then
cat "$cap" "$trace" >/dev/null   # warm the page cache
c_ms=() t_ms=() c_rss=() t_rss=() c_cpu=() t_cpu=()
for ((i = 1; i <= runs; i++)); do
  read -r ms rss cpu < <(measure "$dssview" "${opts[@]}" "$cap")
  c_ms+=("$ms"); c_rss+=("$rss"); c_cpu+=("$cpu")
  read -r ms rss cpu < <(measure "$dssview" "${opts[@]}" "$trace")
  t_ms+=("$ms"); t_rss+=("$rss"); t_cpu+=("$cpu")
  echo "run $i: capture ${c_ms[-1]} ms (cpu ${c_cpu[-1]}), trace ${t_ms[-1]} ms (cpu ${t_cpu[-1]})" >&2
done
s_ms=() s_rss=() s_cpu=()
if command -v tshark >/dev/null; then
  for ((i = 1; i <= truns; i++)); do
    read -r ms rss cpu < <(measure tshark -V -x -r "$cap")
    s_ms+=("$ms"); s_rss+=("$rss"); s_cpu+=("$cpu")
    echo "tshark run $i: $ms ms (cpu $cpu)" >&2
  done
else
  echo "tshark is not installed: no comparison with it" >&2
fi

cm=$(printf '%s\n' "${c_ms[@]}" | median)
tm=$(printf '%s\n' "${t_ms[@]}" | median)
sm=$( ((${#s_ms[@]})) && printf '%s\n' "${s_ms[@]}" | median || echo 0)
cc=$(printf '%s\n' "${c_cpu[@]}" | median)
tc=$(printf '%s\n' "${t_cpu[@]}" | median)
sc=$( ((${#s_cpu[@]})) && printf '%s\n' "${s_cpu[@]}" | median || echo 0)
cpeak=$(printf '%s\n' "${c_rss[@]}" | sort -n | tail -1)
tpeak=$(printf '%s\n' "${t_rss[@]}" | sort -n | tail -1)
speak=$( ((${#s_rss[@]})) && printf '%s\n' "${s_rss[@]}" | sort -n | tail -1 || echo 0)
bytes=$(stat -c %s "$cap")
big_rec=$(largest "$trace")

awk -v b="$bytes" -v cm="$cm" -v tm="$tm" -v sm="$sm" -v cc="$cc" -v tc="$tc" -v sc="$sc" -v cp="$cpeak" -v tp="$tpeak" -v sp="$speak" \
    -v largest="$big_rec" -v opts="${opts[*]:-}" -v runs="$runs" -v truns="$truns" 'BEGIN {
  mib = b / 1048576
  printf "capture:            %.1f MiB (largest record %d bytes)\n", mib, largest
  printf "runs:               %d (tshark %d), medians below\n", runs, truns
  printf "                      wall       MiB/s    cpu\n"
  printf "dssview %-4s capture %8.3f s  %7.1f  %7.3f s  peak RSS %.1f MiB\n", opts, cm / 1000, mib / (cm / 1000), cc / 1000, cp / 1024
  printf "dssview %-4s trace   %8.3f s  %7.1f  %7.3f s  peak RSS %.1f MiB\n", opts, tm / 1000, mib / (tm / 1000), tc / 1000, tp / 1024
  printf "capture speed / trace speed: %.2f by wall time, %.2f by cpu time (target 0.8)\n", tm / cm, tc / cc
  if (sm > 0) {
    printf "tshark -V -x        %8.3f s  %7.1f  %7.3f s  peak RSS %.1f MiB\n", sm / 1000, mib / (sm / 1000), sc / 1000, sp / 1024
    printf "tshark time / dssview time: %.1f by wall time, %.1f by cpu time (target 5)\n", sm / cm, sc / cc
  }
  printf "memory: %.1f MiB, limit (largest record + 16 MiB) %.1f MiB\n", cp / 1024, (largest + 16 * 1048576) / 1048576
}'
fi

if [ "$big" -gt 0 ]; then
  bigdir=${BIG_DIR:-/tmp}
  bigcap=$bigdir/dssview-capture-${big}m-${bigpar}.pcap
  bigtrace=$bigdir/dssview-capture-${big}m-${bigpar}.drdadbg
  if [ ! -s "$bigcap" ]; then
    python3 "$here/make_capture.py" "$bigcap" --trace "$bigtrace" --mib "$big" --parallel "$bigpar"
  fi
  read -r ms rss cpu < <(measure "$dssview" "${opts[@]}" "$bigcap")
  blargest=$(largest "$bigtrace")
  awk -v b="$(stat -c %s "$bigcap")" -v ms="$ms" -v rss="$rss" -v largest="$blargest" -v par="$bigpar" 'BEGIN {
    printf "big capture:        %.1f MiB, %d connections at a time (largest record %d bytes)\n", b / 1048576, par, largest
    printf "dssview             %8.3f s  %7.1f MiB/s  peak RSS %.1f MiB (limit %.1f MiB)\n", ms / 1000, b / 1048576 / (ms / 1000), rss / 1024, (largest + 16 * 1048576) / 1048576
  }'
fi
