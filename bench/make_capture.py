#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Builds a large packet capture of many DRDA connections from real captures.

    make_capture.py CAPTURE [--trace TRACE] [--mib N] [--parallel K] [--real DIR]...

Reads the classic pcap files (Ethernet, IPv4, TCP) of each --real directory
(default: tests/data/captures) and writes CAPTURE, a pcap file of at least N
MiB (default 100) that replays their connections again and again, each time
on a new client port and at a later time: K connections (default 8) are in
progress at any moment, their packets interleaved by time, so the file is a
valid capture of many connections. TCP checksums are updated for the new
ports.

With --trace it also writes the same conversation as a requester's DRDADBG
trace: one record per run of payload of one side of one connection (client
bytes as send buffers, server bytes as receive buffers, role byte 1), in the
order a capture reader ends them, with the time of the run's first packet.

The output depends only on the input files and the options.
"""

import argparse
import glob
import heapq
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_PORTS = (446, 1527, 50000)


def read_connections(path):
    """The connections of a capture: for each, a list of
    (time from the connection's first packet in ns, from client, frame,
    payload offset in the frame, TCP flags). Frames are Ethernet + IPv4 + TCP."""
    with open(path, "rb") as f:
        d = f.read()
    end = {b"\xd4\xc3\xb2\xa1": "<", b"\xa1\xb2\xc3\xd4": ">"}.get(d[:4])
    if end is None or struct.unpack(end + "I", d[20:24])[0] != 1:
        raise SystemExit(f"{path}: not a microsecond pcap file of Ethernet frames")
    conns, order = {}, []
    p = 24
    while p + 16 <= len(d):
        sec, usec, incl, _ = struct.unpack(end + "IIII", d[p:p + 16])
        frame = d[p + 16:p + 16 + incl]
        p += 16 + incl
        if frame[12:14] != b"\x08\x00" or frame[23] != 6:
            continue
        ihl = (frame[14] & 15) * 4
        t = 14 + ihl
        total = struct.unpack(">H", frame[16:18])[0]
        sport, dport = struct.unpack(">HH", frame[t:t + 4])
        flags = frame[t + 13]
        off = t + (frame[t + 12] >> 4) * 4
        frame = frame[:14 + total]
        key = frozenset([sport, dport])
        if flags & 0x12 == 0x02 or key not in conns:
            client = sport if (flags & 0x12 == 0x02 or dport in SERVER_PORTS) else dport
            conns[key] = [client, []]
            order.append(conns[key])
        ts = sec * 1_000_000_000 + usec * 1000
        conns[key][1].append((ts, sport == conns[key][0], frame, off, flags))
    out = []
    for client, pkts in order:
        t0 = pkts[0][0]
        out.append([(ts - t0, c, f, o, fl) for ts, c, f, o, fl in pkts])
    return out


def with_port(frame, from_client, port):
    """frame with the client's port changed to port and the TCP checksum
    updated to match (RFC 1624)."""
    t = 14 + (frame[14] & 15) * 4
    at = t if from_client else t + 2
    b = bytearray(frame)
    old = struct.unpack(">H", b[at:at + 2])[0]
    (c,) = struct.unpack(">H", b[t + 16:t + 18])
    s = (~c & 0xFFFF) + (~old & 0xFFFF) + port
    s = (s & 0xFFFF) + (s >> 16)
    s = (s & 0xFFFF) + (s >> 16)
    b[at:at + 2] = struct.pack(">H", port)
    b[t + 16:t + 18] = struct.pack(">H", ~s & 0xFFFF)
    return bytes(b)


def replays(conns, start_ns, parallel, budget):
    """Yields (time, lane, index in the lane, connection number, from client,
    frame, payload offset, TCP flags, client port) for
    connections replayed on `parallel` lanes, each lane playing them one after
    another, until about `budget` bytes of frames have been yielded.

    The connections played are the same whatever `parallel` is: connection
    number n replays conns[n % len(conns)] and is played by lane
    n % parallel; numbers are taken until their frames reach `budget`.
    So captures made with different --parallel hold the same conversations
    and differ only in how many are in progress at once."""
    sizes = [sum(len(p[2]) for p in pkts) for pkts in conns]
    numbers = []
    used = 0
    while used < budget:
        n = len(numbers)
        numbers.append(n)
        used += sizes[n % len(conns)]
    lanes = []
    for lane in range(parallel):
        # All lanes begin within a quarter of a second, so that they all
        # play at once for nearly all of the capture.
        lanes.append(lane_packets(conns, lane, start_ns + lane * (250_000_000 // parallel),
                                  numbers[lane::parallel]))
    return heapq.merge(*lanes)


def lane_packets(conns, lane, t, numbers):
    i = 0
    for number in numbers:
        pkts = conns[number % len(conns)]
        port = 10000 + number % 50000
        for rel, c, f, o, fl in pkts:
            i += 1
            yield (t + rel, lane, i, number, c, f, o, fl, port)
        t += pkts[-1][0] + 1_000_000


def trace_record(from_client, data, ts_ns):
    name = b"arSendBuf" if from_client else b"arRecvBuf"
    body = b"\x01" + data
    return ((b"W" if from_client else b"R") + struct.pack(">i", len(name)) + name
            + struct.pack(">i", len(body)) + struct.pack(">d", ts_ns / 1e9) + body)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("capture")
    ap.add_argument("--trace")
    ap.add_argument("--mib", type=int, default=100)
    ap.add_argument("--parallel", type=int, default=8)
    ap.add_argument("--real", action="append")
    a = ap.parse_args()
    dirs = a.real or [os.path.join(HERE, "..", "tests", "data", "captures")]
    conns = []
    for d in dirs:
        for p in sorted(glob.glob(os.path.join(d, "*.pcap"))):
            conns.extend(read_connections(p))
    if not conns:
        raise SystemExit("no captures found")
    start = 1_796_000_000 * 1_000_000_000   # December 2026
    budget = a.mib * 1048576

    cap = open(a.capture, "wb")
    cap.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
    trace = open(a.trace, "wb") if a.trace else None
    if trace:
        trace.write(b"DRDADBG" + struct.pack(">i", 1))
    runs = {}       # connection number -> [from client, first time, [payload...]]
    written = 0
    largest = 0
    pack = struct.Struct("<IIII").pack
    for ts, _, _, number, c, f, o, fl, port in replays(conns, start, a.parallel, budget):
        f = with_port(f, c, port)
        sec, ns = divmod(ts, 1_000_000_000)
        cap.write(pack(sec, ns // 1000, len(f), len(f)))
        cap.write(f)
        written += 16 + len(f)
        payload = f[o:]
        run = runs.get(number)
        if payload:
            if run is not None and run[0] != c:
                data = b"".join(run[2])
                largest = max(largest, len(data))
                if trace:
                    trace.write(trace_record(run[0], data, run[1]))
                run = None
            if run is None:
                run = runs[number] = [c, ts - ts % 1000, []]
            run[2].append(payload)
        if fl & 0x05 and number in runs:
            run = runs.pop(number)
            data = b"".join(run[2])
            largest = max(largest, len(data))
            if trace:
                trace.write(trace_record(run[0], data, run[1]))
    for number in sorted(runs):
        run = runs[number]
        data = b"".join(run[2])
        largest = max(largest, len(data))
        if trace:
            trace.write(trace_record(run[0], data, run[1]))
    cap.close()
    if trace:
        trace.close()
    print(f"{a.capture}: {written / 1048576:.1f} MiB of packets, largest run {largest} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
