#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Watching live with the real capture tool:
tcpdump --immediate-mode -U -w - | dssview -j -.

    tests/live_tcpdump_check.py DSSVIEW CAPTURE

Replays both sides of the conversation in CAPTURE (a classic pcap of one
DRDA connection: Ethernet, IPv4, TCP) over a new TCP connection on
127.0.0.1: a listener answers with the recorded server bytes and a client
sends the recorded client bytes, each waiting for the other side's bytes as
recorded. tcpdump captures it on the loopback interface and writes to
"dssview -j -". Every exchange line must appear while the capture is still
running, and the lines must equal dssview -j on CAPTURE apart from times,
addresses and ports.

Exit status 77 (skipped) when tcpdump is not installed or cannot capture on
the loopback interface; 0 when everything matches; 1 otherwise. Every wait
is bounded; the whole test ends within about a minute.
"""
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

WAIT_S = 20.0
# Fields that depend on the time, the addresses and the ports of a run, and
# the record numbers: read live, a run of one direction whose packets reach
# dssview with a pause between them (a loaded machine) is two records.
VARYING = ("ts", "client", "server", "first_reply_ms", "last_reply_ms", "server_ms", "record", "reply_record")


def runs(path):
    """The payload of the capture as (from client, bytes) runs, in order."""
    with open(path, "rb") as f:
        d = f.read()
    end = {b"\xd4\xc3\xb2\xa1": "<", b"\xa1\xb2\xc3\xd4": ">"}[d[:4]]
    out, p, client = [], 24, None
    while p + 16 <= len(d):
        caplen = struct.unpack(end + "I", d[p + 8:p + 12])[0]
        fr = d[p + 16:p + 16 + caplen]
        p += 16 + caplen
        ihl = (fr[14] & 15) * 4
        tcp = fr[14 + ihl:]
        total = struct.unpack(">H", fr[16:18])[0]
        off = (tcp[12] >> 4) * 4
        payload = tcp[off:total - ihl]
        src = (fr[26:30], tcp[0:2])
        if tcp[13] & 0x02 and not tcp[13] & 0x10:
            client = src  # the SYN's sender
        if not payload:
            continue
        if client is None:
            client = src
        side = src == client
        if out and out[-1][0] == side:
            out[-1][1].extend(payload)
        else:
            out.append((side, bytearray(payload)))
    return out


def recv_exactly(sock, n):
    got = bytearray()
    while len(got) < n:
        chunk = sock.recv(n - len(got))
        if not chunk:
            raise ConnectionError("peer closed early")
        got += chunk
    return got


def play(sock, conversation, me_client):
    for from_client, data in conversation:
        if from_client == me_client:
            sock.sendall(data)
        elif recv_exactly(sock, len(data)) != data:
            raise ValueError("the peer's bytes differ from the recording")


def normalised(lines):
    out = []
    for ln in lines:
        o = json.loads(ln)
        for k in VARYING:
            o.pop(k, None)
        out.append(o)
    return out


def main():
    dssview, capture = sys.argv[1], sys.argv[2]
    tcpdump = shutil.which("tcpdump") or next(
        (p for p in ("/usr/sbin/tcpdump", "/usr/bin/tcpdump") if os.access(p, os.X_OK)), None)
    if not tcpdump:
        print("SKIP: tcpdump is not installed")
        return 77
    expected = subprocess.run([dssview, "-j", capture], capture_output=True, timeout=60).stdout.splitlines()
    conversation = runs(capture)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(WAIT_S)
    port = listener.getsockname()[1]

    # --immediate-mode: without it libpcap hands packets over in blocks,
    # up to a second late, and the lines wait for them. In that mode the
    # kernel's buffer holds only a few packets of up to 64 KiB (loopback):
    # -B 32768 (KiB) so that a burst of them is not dropped on a busy machine.
    dump = subprocess.Popen([tcpdump, "-i", "lo", "--immediate-mode", "-B", "32768", "-U", "-n", "-w", "-", f"tcp port {port} and host 127.0.0.1"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    view = subprocess.Popen([dssview, "-j", "-"], stdin=dump.stdout, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    dump.stdout.close()
    try:
        # tcpdump says "listening on lo" once it captures; anything else
        # (no such interface, no right to capture) means this test cannot run.
        deadline = time.monotonic() + WAIT_S
        banner = b""
        os.set_blocking(dump.stderr.fileno(), False)
        while b"listening on" not in banner:
            if dump.poll() is not None or time.monotonic() > deadline:
                rest = dump.stderr.read() or b""
                print("SKIP: tcpdump cannot capture on lo:", (banner + rest).decode(errors="replace").strip())
                return 77
            chunk = dump.stderr.read()
            if chunk:
                banner += chunk
            time.sleep(0.05)

        errors = []

        def serve():
            try:
                conn, _ = listener.accept()
                conn.settimeout(WAIT_S)
                with conn:
                    play(conn, conversation, False)
                    conn.recv(1)  # the client closes first
            except Exception as e:  # reported by the main thread
                errors.append(f"server: {e}")

        server = threading.Thread(target=serve, daemon=True)
        server.start()
        with socket.create_connection(("127.0.0.1", port), timeout=WAIT_S) as client:
            play(client, conversation, True)
        server.join(WAIT_S)
        if errors:
            print("FAIL:", errors[0])
            return 1

        # Every exchange line while tcpdump still runs: nothing waits for the
        # end of the input.
        got = b""
        os.set_blocking(view.stdout.fileno(), False)
        deadline = time.monotonic() + WAIT_S
        while got.count(b"\n") < len(expected) and time.monotonic() < deadline:
            chunk = view.stdout.read()
            if chunk:
                got += chunk
            else:
                time.sleep(0.02)
        live_lines = got.count(b"\n")
        dump.send_signal(signal.SIGINT)
        dump.wait(timeout=WAIT_S)
        os.set_blocking(view.stdout.fileno(), True)
        got += view.stdout.read()
        status = view.wait(timeout=WAIT_S)
    finally:
        for p in (dump, view):
            if p.poll() is None:
                p.kill()
                p.wait()
        listener.close()

    if status != 0:
        print(f"FAIL: dssview status {status}: {view.stderr.read().decode(errors='replace')}")
        return 1
    if live_lines < len(expected):
        print(f"FAIL: only {live_lines} of {len(expected)} lines while the capture ran")
        return 1
    a, b = normalised(got.splitlines()), normalised(expected)
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            print(f"FAIL: line {i + 1} differs:\n  live: {x}\n  file: {y}")
            return 1
    if len(a) != len(b):
        print(f"FAIL: {len(a)} lines live, {len(b)} from the file")
        return 1
    print(f"ok: {capture}: {len(a)} exchange lines live through tcpdump")
    return 0


if __name__ == "__main__":
    sys.exit(main())
