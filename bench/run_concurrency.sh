#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# CPU time and peak memory of -s, -j and -f on captures of different
# concurrency (made with bench/make_capture.py --parallel K).
#
#   bench/run_concurrency.sh path/to/dssview [--runs N] CAPTURE...
#
# For each capture and mode: the best of N runs (default 5) of CPU time
# (user + sys, /usr/bin/time), CPU time per MiB of capture and the peak
# resident memory of that run; output to /dev/null.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '2,10p' "$0"; exit 2; }
dssview=$(realpath "$1")
shift
runs=5
if [ "$1" = "--runs" ]; then runs=$2; shift 2; fi
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
for cap in "$@"; do
  mib=$(awk -v b="$(stat -c %s "$cap")" 'BEGIN { printf "%.1f", b / 1048576 }')
  for mode in -s -j -f; do
    best=""
    for _ in $(seq "$runs"); do
      /usr/bin/time -f "%U %S %M" -o "$tmp" "$dssview" "$mode" "$cap" > /dev/null
      read -r u s kib < "$tmp"
      cpu=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
      if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then
        best=$cpu
        peak=$kib
      fi
    done
    awk -v c="$(basename "$cap")" -v m="$mode" -v t="$best" -v mib="$mib" -v k="$peak" \
      'BEGIN { printf "%-24s %s %7.1f MiB  cpu %6.2f s  %6.2f ms/MiB  peak %6.1f MiB\n", c, m, mib, t, 1000 * t / mib, k / 1024 }'
  done
done
