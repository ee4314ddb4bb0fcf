#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""dssview reading "-" from a pipe fed in pieces, as a live capture comes.

    tests/live_pipe_check.py DSSVIEW INPUT OPTION...
    tests/live_pipe_check.py DSSVIEW INPUT --sigint OPTION...

INPUT is a classic pcap (Ethernet, IPv4, TCP) or a DRDADBG trace. It is cut
into pieces where the conversation changes direction (a capture: before a
packet with payload going the other way than the last one with payload; a
trace: one piece per record), which is where a real conversation pauses.
The writer sends one piece, then waits (up to a bounded time) before it
sends the next:

  * with -j, until every exchange line whose reply ended in the records sent
    so far has appeared on dssview's output (no waiting for the end of the
    input), and no line has appeared that needs more;
  * otherwise, until each record sent so far has its block on the output.

At the end of the input the whole output must equal dssview's output on the
file itself, line for line, and the status must be 0. The slowest answer
after a piece is printed.

With --sigint the writer stops after half of the pieces, waits for their
output, sends SIGINT to dssview (the pipe stays open) and expects status 0
and exactly the output of dssview on a file holding only the bytes sent: the
summary of what was read, the open connections listed as still open.

Exit status 0 when everything matches, 1 with the first difference.
"""
import fcntl
import json
import os
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import time

# Bounds: no step of the test waits longer than this for dssview.
WAIT_S = 10.0
RECORD_LINE = re.compile(rb"^\d+\t(connection |data )", re.M)


def pcap_pieces(data):
    """The header and packets of a pcap, grouped into pieces that end where
    payload changes direction."""
    end = {b"\xd4\xc3\xb2\xa1": "<", b"\xa1\xb2\xc3\xd4": ">",
           b"\x4d\x3c\xb2\xa1": "<", b"\xa1\xb2\x3c\x4d": ">"}[data[:4]]
    link = struct.unpack(end + "I", data[20:24])[0]
    assert link == 1, "Ethernet captures only"
    pieces, cur, last = [], bytearray(data[:24]), None
    p = 24
    while p + 16 <= len(data):
        caplen = struct.unpack(end + "I", data[p + 8:p + 12])[0]
        frame = data[p + 16:p + 16 + caplen]
        ihl = (frame[14] & 15) * 4
        tcp = frame[14 + ihl:]
        total = struct.unpack(">H", frame[16:18])[0]
        payload = total - ihl - (tcp[12] >> 4) * 4
        src = (frame[26:30], tcp[0:2])
        if payload > 0:
            if last is not None and src != last and len(cur) > 0:
                pieces.append(bytes(cur))
                cur = bytearray()
            last = src
        cur += data[p:p + 16 + caplen]
        p += 16 + caplen
    if cur:
        pieces.append(bytes(cur))
    return pieces


def trace_pieces(data):
    """One piece per record; the file header goes with the first."""
    pieces, p, start = [], 11, 0
    while p < len(data):
        n = struct.unpack(">i", data[p + 1:p + 5])[0]
        q = p + 5 + n
        count = struct.unpack(">i", data[q:q + 4])[0]
        p = q + 4 + 8 + count
        pieces.append(data[start:p])
        start = p
    return pieces


def run_file(dssview, path, opts):
    p = subprocess.run([dssview] + opts + [path], capture_output=True, timeout=60)
    return p.returncode, p.stdout


class Reader:
    """dssview's output, read without blocking as it comes."""

    def __init__(self, proc):
        self.proc, self.buf = proc, b""
        os.set_blocking(proc.stdout.fileno(), False)

    def poll(self, timeout):
        r, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if r:
            chunk = os.read(self.proc.stdout.fileno(), 1 << 20)
            self.buf += chunk
            return len(chunk) > 0
        return False

    def wait_for(self, done):
        """Reads until done(buf) or WAIT_S pass; returns the seconds waited."""
        t0 = time.monotonic()
        while not done(self.buf):
            left = WAIT_S - (time.monotonic() - t0)
            if left <= 0 or (not self.poll(min(left, 0.05)) and self.proc.poll() is not None):
                if not done(self.buf):
                    return None
        return time.monotonic() - t0

    def rest(self):
        t0 = time.monotonic()
        while time.monotonic() - t0 < WAIT_S:
            if not self.poll(0.1) and self.proc.poll() is not None:
                while self.poll(0):
                    pass
                break
        return self.buf


def main():
    args = sys.argv[1:]
    dssview, path = args[0], args[1]
    sigint = "--sigint" in args
    opts = [a for a in args[2:] if a != "--sigint"]
    with open(path, "rb") as f:
        data = f.read()
    is_trace = data[:7] == b"DRDADBG"
    pieces = trace_pieces(data) if is_trace else pcap_pieces(data)
    json_mode = "-j" in opts
    # -s -x: its exchange lines (after two heading lines) come as -j's do.
    summary_mode = opts == ["-s", "-x"]
    status, whole = run_file(dssview, path, opts)
    _, jlines = run_file(dssview, path, ["-j"])
    replies = [json.loads(ln).get("reply_record") for ln in jlines.splitlines()]
    if status != 0:
        print(f"FAIL: dssview {opts} {path}: status {status}")
        return 1
    lines = whole.splitlines(keepends=True)
    # Record numbers of the file's output: a capture numbers its records in
    # the order the pieces end them (one connection, one run per piece).
    send = len(pieces) // 2 if sigint else len(pieces)

    proc = subprocess.Popen([dssview] + opts + ["-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        try:
            # Each piece is written whole: the writer pauses only between them.
            fcntl.fcntl(proc.stdin.fileno(), fcntl.F_SETPIPE_SZ, 1 << 20)
        except (OSError, AttributeError):
            pass
        out = Reader(proc)
        slowest = 0.0
        for k in range(send):
            proc.stdin.write(pieces[k])
            proc.stdin.flush()
            records = k + 1
            if json_mode or summary_mode:
                count = sum(1 for r in replies if r is not None and r <= records)
                if summary_mode and count:
                    count += 2
                expect = b"".join(lines[:count])
                waited = out.wait_for(lambda b: b.count(b"\n") >= count)
                have = out.buf.count(b"\n")
                if waited is None or not out.buf.startswith(expect) or have != count:
                    print(f"FAIL: after piece {records} of {len(pieces)}: expected {count} lines "
                          f"before the next piece, got {have}")
                    return 1
            else:
                waited = out.wait_for(lambda b: len(RECORD_LINE.findall(b)) >= records)
                if waited is None:
                    print(f"FAIL: after piece {records} of {len(pieces)}: record {records} not shown")
                    return 1
            slowest = max(slowest, waited)
        if sigint:
            time.sleep(0.2)  # dssview is now waiting in a read
            proc.send_signal(signal.SIGINT)
            got = out.rest()
            proc.stdin.close()
            with tempfile.TemporaryDirectory() as tmp:
                prefix = os.path.join(tmp, "prefix" + (".drdadbg" if is_trace else ".pcap"))
                with open(prefix, "wb") as f:
                    f.write(b"".join(pieces[:send]))
                _, lines_expected = run_file(dssview, prefix, opts)
        else:
            proc.stdin.close()
            got = out.rest()
            lines_expected = whole
        rc = proc.wait(timeout=WAIT_S)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    if rc != 0:
        print(f"FAIL: status {rc}")
        return 1
    a, b = got.splitlines(), lines_expected.splitlines()
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            print(f"FAIL: line {i + 1} differs:\n  pipe: {x!r}\n  file: {y!r}")
            return 1
    if len(a) != len(b):
        print(f"FAIL: {len(a)} lines through the pipe, {len(b)} from the file")
        return 1
    print(f"ok: {path} {' '.join(opts)}{' (SIGINT)' if sigint else ''}: {len(a)} lines, "
          f"{send} pieces, slowest answer {slowest * 1000:.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
