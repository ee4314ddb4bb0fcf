#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# dssview on an encrypted capture against the same workload in clear.
#
#   bench/run_tls.sh path/to/dssview [--mib N] [--runs N]
#
# Builds (once) with bench/make_capture.py a capture of at least N MiB
# (default 100) of interleaved connections replayed from tests/data/captures,
# and with bench/encrypt_capture.py the same connections as TLS 1.3
# (AES-128-GCM) with their key log. Runs dssview -f and -s on both, several
# times (default 5), writing to /dev/null, and prints the best CPU time
# (user + sys) of each and the ratio clear / encrypted (1.0: as fast).
# Generated files go to $BENCH_DIR (default: build/bench in the source tree).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { sed -n '2,12p' "$0"; exit 2; }
dssview=$(realpath "$1")
shift
mib=100
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --mib) mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
dir=${BENCH_DIR:-$here/../build/bench}
mkdir -p "$dir"
clear=$dir/capture-${mib}m.pcap
tls=$dir/capture-${mib}m-tls.pcap
keys=$dir/capture-${mib}m-tls.keylog
[ -f "$clear" ] || python3 "$here/make_capture.py" "$clear" --mib "$mib" >/dev/null
[ -f "$tls" ] || python3 "$here/encrypt_capture.py" "$clear" "$tls" "$keys"

# Best user+sys seconds of $runs runs of dssview "$@".
best() {
  local b=""
  for _ in $(seq "$runs"); do
    local t
    /usr/bin/time -o "$dir/time.txt" -f "%U %S" "$dssview" "$@" >/dev/null 2>/dev/null
    t=$(tail -1 "$dir/time.txt" | awk '{print $1 + $2}')
    if [ -z "$b" ] || awk "BEGIN{exit !($t < $b)}"; then b=$t; fi
  done
  echo "$b"
}

printf 'capture: %s (%s bytes), encrypted: %s bytes\n' "$clear" "$(stat -c %s "$clear")" "$(stat -c %s "$tls")"
for opt in -f -s; do
  c=$(best "$opt" "$clear")
  e=$(best "$opt" --keylog "$keys" "$tls")
  printf '%s  clear %.2f s  encrypted %.2f s  speed ratio %.2f\n' "$opt" "$c" "$e" "$(awk "BEGIN{print $c / $e}")"
done
