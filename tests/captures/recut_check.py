#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Resegmentation and the server port never change what dssview prints.

    recut_check.py DSSVIEW WORK_DIR CAPTURE...
    recut_check.py --reused-port DSSVIEW WORK_DIR CAPTURE

For each capture, copies are made (recut.py) with every TCP payload cut at
random into pieces of 1..N bytes (several seeds and N, 1..4 among them) and
the DRDA server port moved to another port of as many digits (so that no
column of -s changes width). Each copy is read with --port naming the new
port, and without it (the connection must then be told by its first bytes).
In every mode below its output must be the original's, byte for byte, with
the moved port's text ("address:port") put back.

--reused-port: the connections of CAPTURE all on one client port, with no
FIN or RST and each later SYN sent twice: every connection is shown (each
but the last ended as replaced) with all the exchanges of the original, in
order, equal in -j apart from the client port.
"""

import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_variants as mv  # noqa: E402
import recut  # noqa: E402

MODES = ([], ["-f"], ["-r"], ["-s", "-x"], ["-j"], ["-j", "--failed"], ["-r", "--sql", "select"],
         ["-f", "-c", "1", "-n", "1-12"])
SERVER_PORTS = (446, 1527, 50000)
# (seed, most bytes in a piece, --port given)
CUTS = ((11, 4, True), (12, 4, False), (13, 64, False), (14, 1500, True))


def run(dssview, args, path):
    # Run where the file is, by its name alone: the -s overview and the
    # messages name the input.
    r = subprocess.run([dssview] + args + [os.path.basename(path)], cwd=os.path.dirname(path),
                       capture_output=True, env=dict(os.environ, TZ="UTC", LC_ALL="C"))
    return r.returncode, r.stdout, r.stderr


def server_endpoints(segs, port):
    return {mv_addr(s.dst if s.dport == port else s.src) for s in segs if port in (s.sport, s.dport)}


def mv_addr(a):
    return ".".join(str(b) for b in a)


def check_recut(dssview, work, capture):
    segs = mv.read_pcap(capture)
    old = next(p for p in SERVER_PORTS if any(p in (s.sport, s.dport) for s in segs))
    new = old + 1000
    name = os.path.basename(capture)
    want = {tuple(m): run(dssview, m, os.path.abspath(capture)) for m in MODES}
    subst = [(f"{a}:{new}".encode(), f"{a}:{old}".encode()) for a in server_endpoints(segs, old)]
    failures = 0
    for seed, most, named in CUTS:
        d = os.path.join(work, f"{name}.seed{seed}.max{most}")
        os.makedirs(d, exist_ok=True)
        path = os.path.join(d, name)
        recut.write(path, recut.recut(recut.move_port(segs, old, new), seed, most))
        extra = ["--port", str(new)] if named else []
        for m in MODES:
            status, out, err = run(dssview, extra + m, path)
            for a, b in subst:
                out = out.replace(a, b)
                err = err.replace(a, b)
            if (status, out, err) != want[tuple(m)]:
                failures += 1
                print(f"FAIL {name}: seed {seed}, pieces of 1..{most} bytes, port {new}"
                      f"{' (--port)' if named else ''}: dssview {' '.join(m)}: {first_difference(want[tuple(m)], (status, out, err))}")
    print(f"{name}: {len(CUTS)} copies x {len(MODES)} modes, {failures} differences")
    return failures


def first_difference(a, b):
    if a[0] != b[0]:
        return f"status {b[0]}, expected {a[0]}"
    for label, x, y in (("stdout", a[1], b[1]), ("stderr", a[2], b[2])):
        xl, yl = x.decode(errors="replace").split("\n"), y.decode(errors="replace").split("\n")
        for i, (p, q) in enumerate(zip(xl, yl)):
            if p != q:
                return f"{label} line {i + 1}: {q!r}, expected {p!r}"
        if len(xl) != len(yl):
            return f"{label}: {len(yl)} lines, expected {len(xl)}"
    return "?"


def check_reused(dssview, work, capture):
    segs = mv.read_pcap(capture)
    conns = len({s.conn for s in segs})
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, os.path.basename(capture))
    recut.write(path, recut.reuse_port(segs))
    port = str(mv.client_port(segs))
    status, out, err = run(dssview, [], path)
    lines = [ln for ln in out.decode().split("\n") if ln.startswith("CONNECTION ")]
    ends = [ln.split(": ", 1)[1] for ln in lines if not ln.endswith((" opened", " seen"))]
    expect = ["replaced by a new connection on the same ports"] * (conns - 1) + ["still open at the end of the capture"]
    problems = []
    if status or err:
        problems.append(f"status {status}, {err.decode(errors='replace').strip()}")
    if ends != expect:
        problems.append(f"connection ends {ends}, expected {expect}")
    # The exchanges: those of the original, with the client port of the
    # first connection everywhere.
    _, want, _ = run(dssview, ["-j"], os.path.abspath(capture))
    _, got, _ = run(dssview, ["-j"], path)
    want = [json.loads(ln) for ln in want.decode().splitlines()]
    got = [json.loads(ln) for ln in got.decode().splitlines()]
    for e in want:
        e["client"] = re.sub(r":\d+$", ":" + port, e["client"])
    if got != want:
        problems.append(f"-j: {len(got)} exchanges, expected {len(want)} ({sum(a == b for a, b in zip(got, want))} equal)")
    for p in problems:
        print("FAIL", p)
    print(f"{os.path.basename(capture)} on one client port: {len(lines) // 2} connections, {len(got)} exchanges")
    return len(problems)


def main(argv):
    args = argv[1:]
    reused = bool(args) and args[0] == "--reused-port"
    if reused:
        args = args[1:]
    if len(args) < 3:
        sys.stderr.write(__doc__)
        return 2
    dssview, work, captures = os.path.abspath(args[0]), os.path.abspath(args[1]), args[2:]
    if reused:
        return 1 if check_reused(dssview, work, captures[0]) else 0
    failures = sum(check_recut(dssview, work, c) for c in captures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
