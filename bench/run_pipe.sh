#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# dssview reading a capture through a pipe ("-") against the same file read
# directly: speed and peak memory, for each set of options.
#
#   bench/run_pipe.sh path/to/dssview [--mib N] [--runs N] [--parallel K]
#
# Builds (once) with bench/make_capture.py a capture of at least N MiB
# (default 1024) in $BIG_DIR (default /tmp), K connections in progress at a
# time (default 64). For -j, -s and -f it runs, alternately and several
# times (default 3), "dssview OPTS capture" and "cat capture | dssview OPTS -"
# with the output to /dev/null (not a regular file: the piped run flushes
# each record and exchange line, as it does for a watcher), and prints the
# median wall times, their ratio (target: the pipe at least 0.8 of the
# file's speed) and the peak resident memory of dssview (target: the pipe
# within the file's and within 32 MiB).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { sed -n '2,16p' "$0"; exit 2; }
dssview=$(realpath "$1")
shift
mib=1024
runs=3
par=64
while [ $# -gt 0 ]; do
  case "$1" in
    --mib) mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --parallel) par=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found" >&2; exit 2; }
dir=${BIG_DIR:-/tmp}
cap=$dir/dssview-capture-${mib}m-${par}.pcap
if [ ! -s "$cap" ]; then
  python3 "$here/make_capture.py" "$cap" --trace "$dir/dssview-capture-${mib}m-${par}.drdadbg" --mib "$mib" --parallel "$par"
fi

# "wall_ms peak_kib" of dssview, its input the file or a pipe from cat.
measure() {
  local mode=$1 log t0 t1 rss
  shift
  log=$(mktemp)
  t0=$(date +%s%N)
  if [ "$mode" = file ]; then
    /usr/bin/time -v -o "$log" "$dssview" "$@" "$cap" >/dev/null
  else
    cat "$cap" | /usr/bin/time -v -o "$log" "$dssview" "$@" - >/dev/null
  fi
  t1=$(date +%s%N)
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
  rm -f "$log"
  echo "$(( (t1 - t0) / 1000000 )) $rss"
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

cat "$cap" >/dev/null  # warm the page cache
bytes=$(stat -c %s "$cap")
printf 'capture: %.1f MiB, %d connections at a time, %d runs each, medians\n' "$(echo "$bytes / 1048576" | bc -l)" "$par" "$runs"
for opt in -j -s -f; do
  f_ms=() p_ms=() f_rss=() p_rss=()
  for ((i = 1; i <= runs; i++)); do
    read -r ms rss < <(measure file "$opt"); f_ms+=("$ms"); f_rss+=("$rss")
    read -r ms rss < <(measure pipe "$opt"); p_ms+=("$ms"); p_rss+=("$rss")
  done
  fm=$(printf '%s\n' "${f_ms[@]}" | median)
  pm=$(printf '%s\n' "${p_ms[@]}" | median)
  fp=$(printf '%s\n' "${f_rss[@]}" | sort -n | tail -1)
  pp=$(printf '%s\n' "${p_rss[@]}" | sort -n | tail -1)
  awk -v o="$opt" -v b="$bytes" -v fm="$fm" -v pm="$pm" -v fp="$fp" -v pp="$pp" 'BEGIN {
    mib = b / 1048576
    printf "%-3s file %7.2f s %6.1f MiB/s peak %5.1f MiB | pipe %7.2f s %6.1f MiB/s peak %5.1f MiB | speed pipe/file %.2f\n",
           o, fm / 1000, mib / (fm / 1000), fp / 1024, pm / 1000, mib / (pm / 1000), pp / 1024, fm / pm
  }'
done
