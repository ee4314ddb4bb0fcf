#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""A capture shows each connection as the requester's trace of it.

    tests/capture_equivalence.py DSSVIEW CAPTURE TRACE [OPTION]

Runs DSSVIEW [OPTION] on the packet capture and takes its output apart: the
file header line, each CONNECTION line and each record's header block (with
the empty lines that set them apart) come off, and what is left of each
record is its listing and decode. The records of the DRDADBG trace TRACE
(the requester's trace of the same conversation, one record per run of
bytes) are grouped by the connection the capture's records name; each
group is written as a trace of its own and run through DSSVIEW [OPTION].
Each connection's output must equal what its records print in the capture,
record for record, and the byte counts must match. Exit status 0 when
everything matches, 1 with the first difference otherwise.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

RECORD = re.compile(r"^(\d+)\tconnection (\d+)  (\S+) ([<>]) (\S+)$")


def run(dssview, args):
    env = dict(os.environ, TZ="UTC")
    p = subprocess.run([dssview] + args, capture_output=True, env=env)
    return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")


def trace_records(path):
    with open(path, "rb") as f:
        b = f.read()
    p, out = 11, []
    while p < len(b):
        n = struct.unpack(">i", b[p + 1:p + 5])[0]
        q = p + 5 + n
        d = struct.unpack(">i", b[q:q + 4])[0]
        end = q + 12 + d
        out.append(b[p:end])
        p = end
    return b[:11], out


def split_capture_output(text):
    """[(connection, bytes, body)] and the CONNECTION lines, in order."""
    lines = text.split("\n")
    if not lines[0].startswith("pcap") or lines[1] != "":
        raise SystemExit("no file header line: %r" % lines[:2])
    records, events = [], []
    i = 2
    cur = None
    while i < len(lines):
        line = lines[i]
        if line.startswith("CONNECTION "):
            if i + 1 >= len(lines) or lines[i + 1] != "" or lines[i - 1] != "":
                raise SystemExit("CONNECTION line not set apart by empty lines: " + line)
            # The empty line before it sets it apart from a record whose text
            # does not end with one (a raw listing); the record's text is
            # compared without trailing empty lines.
            events.append(line)
            cur = None
            i += 2
            continue
        m = RECORD.match(line)
        if m:
            if not lines[i + 1].startswith("\tbytes "):
                raise SystemExit("record without its bytes line: " + line)
            count = int(lines[i + 1][7:])
            i += 2
            if lines[i].startswith("\ttime  "):
                i += 1
            cur = [int(m.group(2)), count, []]
            records.append(cur)
            continue
        if cur is None:
            if line == "" and i == len(lines) - 1:
                break
            raise SystemExit("text outside a record: %r" % line)
        cur[2].append(line)
        i += 1
    return [(c, n, "\n".join(trim(body)) + "\n") for c, n, body in records], events


def trim(body):
    """A record's lines without the empty lines at their end."""
    while body and body[-1] == "":
        body = body[:-1]
    return body


def split_trace_output(text):
    """The bodies of a trace's records, without their header lines."""
    lines = text.split("\n")
    assert lines[0].startswith("DRDADBG Version") and lines[1] == ""
    bodies, cur = [], None
    i = 2
    while i < len(lines):
        if re.match(r"^\d+\tdata ZEV DRDA Communication Manager$", lines[i]):
            i += 3  # function, bytes
            if i < len(lines) and lines[i].startswith("\ttime  "):
                i += 1
            cur = []
            bodies.append(cur)
            continue
        if cur is not None:
            cur.append(lines[i])
        i += 1
    # The text of a record runs up to the next record line; the last ends
    # with the output.
    out = []
    for body in bodies:
        out.append("\n".join(trim(body)) + "\n")
    return out


def main():
    dssview, capture, trace = sys.argv[1:4]
    opts = sys.argv[4:]
    status, out, err = run(dssview, opts + [capture])
    if status != 0 or err:
        print("capture run: status %d, stderr %r" % (status, err))
        return 1
    records, events = split_capture_output(out)
    header, trecs = trace_records(trace)
    if len(records) != len(trecs):
        print("%d records in the capture's output, %d in the trace" % (len(records), len(trecs)))
        return 1
    bad = [e for e in events if not re.search(r": (\S+ > \S+ opened|closed by the (client|server) \(FIN\))$", e)]
    if bad:
        print("unexpected CONNECTION line: " + bad[0])
        return 1
    conns = sorted({c for c, _, _ in records})
    with tempfile.TemporaryDirectory() as tmp:
        for conn in conns:
            idx = [k for k, r in enumerate(records) if r[0] == conn]
            path = os.path.join(tmp, "conn%d.drdadbg" % conn)
            with open(path, "wb") as f:
                f.write(header + b"".join(trecs[k] for k in idx))
            status, tout, terr = run(dssview, opts + [path])
            if status != 0:
                print("trace run failed: %d %s" % (status, terr))
                return 1
            bodies = split_trace_output(tout)
            for k, body in zip(idx, bodies):
                want_count = len(trecs[k]) - 17 - struct.unpack(">i", trecs[k][1:5])[0]
                if records[k][1] != want_count:
                    print("record %d: bytes %d, the trace has %d" % (k + 1, records[k][1], want_count))
                    return 1
                if records[k][2] != body:
                    a, b = records[k][2].split("\n"), body.split("\n")
                    j = next((j for j in range(min(len(a), len(b))) if a[j] != b[j]), min(len(a), len(b)))
                    print("record %d (connection %d), line %d differs:\ncapture: %r\ntrace:   %r"
                          % (k + 1, conn, j + 1, a[j] if j < len(a) else None, b[j] if j < len(b) else None))
                    return 1
    print("%s %s: %d records in %d connections match" % (os.path.basename(capture), " ".join(opts),
                                                          len(records), len(conns)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
