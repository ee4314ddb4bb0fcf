#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# CPU time and peak memory of -s, -j and -f on captures of different
# concurrency (made with bench/make_capture.py --parallel K).
#
#   bench/run_concurrency.sh path/to/dssview [--runs N] CAPTURE...
#
# For each capture and mode: the best of N runs (default 5) of CPU time
# (user + sys, to the microsecond from the rusage of /usr/bin/time and its
# child: time's own output cuts to 10 ms, a step of 4 % at these
# durations), CPU time per MiB of capture and the peak
# resident memory of that run; output to /dev/null. The runs of all
# captures and modes take turns (run 1 of each, then run 2 of each, ...),
# so that a slow spell of a shared machine falls on all of them; the last
# lines compare CPU per MiB of each capture with the first one's.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,13p' "$0"; exit 2; }
dssview=$(realpath "$1")
shift
runs=5
if [ "$1" = "--runs" ]; then runs=$2; shift 2; fi
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
modes=(-s -j -f)
declare -A best peak
for _ in $(seq "$runs"); do
  for cap in "$@"; do
    for mode in "${modes[@]}"; do
      # The peak from time (a Python parent would count its own pages).
      cpu=$(python3 -c '
import os, subprocess, sys
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, ru = os.wait4(p.pid, 0)
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit("failed: " + " ".join(sys.argv[1:]))
print("%.4f" % (ru.ru_utime + ru.ru_stime))' /usr/bin/time -f "%M" -o "$tmp" "$dssview" "$mode" "$cap")
      read -r kib < "$tmp"
      key="$cap $mode"
      if [ -z "${best[$key]:-}" ] || awk -v a="$cpu" -v b="${best[$key]}" 'BEGIN { exit !(a < b) }'; then
        best[$key]=$cpu
        peak[$key]=$kib
      fi
    done
  done
done
declare -A per_mib
for cap in "$@"; do
  mib=$(awk -v b="$(stat -c %s "$cap")" 'BEGIN { printf "%.1f", b / 1048576 }')
  for mode in "${modes[@]}"; do
    key="$cap $mode"
    per_mib[$key]=$(awk -v t="${best[$key]}" -v mib="$mib" 'BEGIN { printf "%.4f", 1000 * t / mib }')
    awk -v c="$(basename "$cap")" -v m="$mode" -v t="${best[$key]}" -v mib="$mib" -v k="${peak[$key]}" \
      'BEGIN { printf "%-24s %s %7.1f MiB  cpu %6.3f s  %6.2f ms/MiB  peak %6.1f MiB\n", c, m, mib, t, 1000 * t / mib, k / 1024 }'
  done
done
first=$1
shift
for cap in "$@"; do
  for mode in "${modes[@]}"; do
    awk -v c="$(basename "$cap")" -v f="$(basename "$first")" -v m="$mode" \
      -v a="${per_mib[$cap $mode]}" -v b="${per_mib[$first $mode]}" \
      'BEGIN { printf "%s CPU per MiB, %s / %s: %.2f\n", m, c, f, a / b }'
  done
done
