#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the captures of tests/data/compare/: one workload (Workload.java)
# run against a real Derby Network Server three times, captured on the
# loopback interface: base1.pcap and base2.pcap the base version twice,
# new.pcap the new version (see Workload.java for what differs).
#
#     tests/compare/make_captures.sh [OUTDIR] [PORT]
#
# Needs Debian's default-jre-headless, default-jdk-headless (javac),
# libderby-java, libderbyclient-java, derby-tools and tcpdump, and the
# right to capture on lo (root). The server listens on 127.0.0.1:PORT
# (31517 unless given; keep it within 31500-31599). Every wait is bounded.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../data/compare}
port=${2:-31517}
jars=/usr/share/java
cp_server=$jars/derby.jar:$jars/derbynet.jar:$jars/derbytools.jar
cp_client=$jars/derbyclient.jar
tcpdump=$(command -v tcpdump || echo /usr/sbin/tcpdump)
work=$(mktemp -d)
server_pid=""
dump_pid=""
cleanup() {
  [ -n "$dump_pid" ] && kill -INT "$dump_pid" 2>/dev/null || true
  if [ -n "$server_pid" ]; then
    timeout 20 java -cp "$cp_server" org.apache.derby.drda.NetworkServerControl shutdown \
      -h 127.0.0.1 -p "$port" >/dev/null 2>&1 || true
    kill "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work/classes" "$work/home"

javac -d "$work/classes" "$here/Workload.java"
java -Dderby.system.home="$work/home" -cp "$cp_server" org.apache.derby.drda.NetworkServerControl start \
  -h 127.0.0.1 -p "$port" -noSecurityManager >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 60); do
  timeout 10 java -cp "$cp_server" org.apache.derby.drda.NetworkServerControl ping -h 127.0.0.1 -p "$port" \
    >/dev/null 2>&1 && break
  sleep 0.5
done

client() { timeout 300 java -cp "$cp_client:$work/classes" Workload "$port" "$@"; }

# A run not captured first, so that the server's code is compiled before
# the runs compared.
client setup base
client work base

for run in base1:base new:new base2:base; do
  name=${run%%:*}
  version=${run#*:}
  client setup "$version"
  rm -f "$work/$name.pcap"
  "$tcpdump" -i lo --immediate-mode -B 65536 -w "$work/$name.pcap" "tcp port $port" 2>"$work/dump.log" &
  dump_pid=$!
  for _ in $(seq 100); do
    grep -q "listening on" "$work/dump.log" && break
    sleep 0.1
  done
  client work "$version"
  sleep 0.5
  kill -INT "$dump_pid"
  timeout 20 tail --pid="$dump_pid" -f /dev/null || kill -KILL "$dump_pid"
  dump_pid=""
  cp "$work/$name.pcap" "$out/$name.pcap"
  echo "$out/$name.pcap: $(stat -c %s "$out/$name.pcap") bytes"
done
