#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Records a real DRDA conversation with international names and values:
# Derby's Network Server and its network client (ij), both from Debian's
# packages, on 127.0.0.1, captured with tcpdump on the loopback interface.
#
#   scripts/capture-intl.sh [OUT.pcap] [PORT]
#
# Needs root (tcpdump) and default-jre-headless, libderby-java,
# libderbyclient-java, derby-tools and tcpdump (scripts/install-deps.sh
# installs them with DSSVIEW_WITH_DERBY=1). The SQL is tests/data/intl/intl.sql.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/tests/data/intl/intl.pcap}
port=${2:-41537}
sql=$here/tests/data/intl/intl.sql
java=/usr/share/java
work=$(mktemp -d)
server_pid="" dump_pid=""
cleanup() {
  [ -n "$dump_pid" ] && kill "$dump_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp_server=$java/derby.jar:$java/derbynet.jar:$java/derbytools.jar
cp_client=$java/derbyclient.jar:$java/derbytools.jar

# The server, its databases in the scratch folder, listening on 127.0.0.1 only.
timeout 120 java -Dderby.system.home="$work" -cp "$cp_server" \
  org.apache.derby.drda.NetworkServerControl start -h 127.0.0.1 -p "$port" -noSecurityManager \
  >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 60); do
  if timeout 10 java -cp "$cp_server" org.apache.derby.drda.NetworkServerControl ping -h 127.0.0.1 -p "$port" \
       >/dev/null 2>&1; then break; fi
  sleep 1
done

# The capture: only this port, whole packets, written as they come.
tcpdump -i lo --immediate-mode -B 65536 -s 0 -U -w "$work/cap.pcap" "tcp port $port and host 127.0.0.1" \
  2>"$work/tcpdump.log" &
dump_pid=$!
sleep 2

# The client reads the script as UTF-8.
timeout 120 java -Dderby.ui.codeset=UTF-8 -Dij.protocol=jdbc:derby: -cp "$cp_client" \
  org.apache.derby.tools.ij <(printf "CONNECT 'jdbc:derby://127.0.0.1:%s/intl;create=true;user=app;password=app';\n" "$port"; cat "$sql"; printf "DISCONNECT;\nEXIT;\n") \
  >"$work/ij.log" 2>&1 || true
sleep 2
kill "$dump_pid"
wait "$dump_pid" 2>/dev/null || true
dump_pid=""
timeout 30 java -cp "$cp_server" org.apache.derby.drda.NetworkServerControl shutdown -h 127.0.0.1 -p "$port" \
  >/dev/null 2>&1 || true
cp "$work/cap.pcap" "$out"
cat "$work/ij.log"
