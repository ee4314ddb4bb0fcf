#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks dssview on the capture variants made by make_variants.py.

    check_variants.py DSSVIEW SOURCE_DIR VARIANT_DIR [--only NAME,...] [--tshark [all]]

For each variant listed in VARIANT_DIR/manifest.json (or those whose
variant name is in --only), dssview's output on the variant is compared with
its output on the source capture, in the raw listing, with -f and with -r:

  same        the whole text equal, after the file header line (which must
              be the one the manifest gives) and, for IPv6, with the
              addresses put back;
  interleave  two captures merged: the records and CONNECTION lines of each
              connection equal those of its source, numbered per connection,
              with the time and client port of the source put back;
  gaps        bytes lost: the "N bytes from the client|server missing"
              lines are the ones the manifest lists, each connection that
              starts in the middle says "seen", and the records the manifest
              lists (runs whose bytes are all in the variant) appear as in
              the source, in order, with -f decoded as there: the tool goes
              on after each gap. With -r only the status and the gap lines.

With --tshark, the bytes of every record (read back from the raw listing) of
the sources and of a selection of variants (every variant with "all") are
compared, per connection and side, with what `tshark -q -z follow,tcp,raw,N`
reassembles from the same file, and the gap lines with the places where tshark
says bytes are missing (it does not say so for packets cut by the snap
length, so those variants are left out of this check). Without tshark on PATH that part is skipped
(exit status 77 when it was the only thing asked for).
"""

import json
import os
import re
import shutil
import subprocess
import sys
from datetime import datetime, timedelta

REC = re.compile(r"^(\d+)\tconnection (\d+)  (.*)$")
CONN = re.compile(r"^CONNECTION (\d+): (.*)$")
GAP = re.compile(r"^(\d+) bytes from the (client|server) missing from the capture$")
TIME = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}")
LISTING = re.compile(r"^  [0-9A-F]{4}  [0-9A-F]")

MODES = ([], ["-f"], ["-r"])


class Failure(Exception):
    pass


def run(dssview, args, path, ok_status=(0,)):
    r = subprocess.run([dssview] + args + [path], capture_output=True, env=dict(os.environ, TZ="UTC"))
    if r.returncode not in ok_status:
        raise Failure(f"dssview {' '.join(args)} {path}: status {r.returncode}: "
                      f"{r.stderr.decode(errors='replace').strip()}")
    if r.stderr:
        raise Failure(f"dssview {' '.join(args)} {path}: standard error: "
                      f"{r.stderr.decode(errors='replace').strip()}")
    return r.stdout.decode("latin-1")


def items(text):
    """The output after the file header line as a list of
    ("conn", C, rest) for CONNECTION lines and ("rec", C, header lines
    without the record number, body lines) for records; empty lines before
    a CONNECTION line or a record are dropped (they only set it apart)."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    out = []
    i = 1
    while i < len(lines):
        line = lines[i]
        m, c = REC.match(line), CONN.match(line)
        if c:
            out.append(("conn", int(c.group(1)), c.group(2)))
            i += 1
        elif m:
            head = ["connection %s  %s" % (m.group(2), m.group(3))]
            i += 1
            while i < len(lines) and lines[i] != "":
                head.append(lines[i])
                i += 1
            body = []
            while i < len(lines) and not REC.match(lines[i]) and not CONN.match(lines[i]):
                body.append(lines[i])
                i += 1
            while body and body[-1] == "":
                body.pop()
            out.append(("rec", int(m.group(2)), head, body))
        elif line == "":
            i += 1
        else:
            raise Failure(f"line {i + 1} is neither a record, a CONNECTION line nor in a record: {line!r}")
    return out


def first_diff(a, b):
    al, bl = a.split("\n"), b.split("\n")
    for n, (x, y) in enumerate(zip(al, bl)):
        if x != y:
            return f"line {n + 1}: {x!r} != {y!r}"
    return f"lengths {len(al)} and {len(bl)} lines"


def check_same(dssview, e, src, var, cache):
    for mode in MODES:
        want = cache(e["source"], mode)
        got = run(dssview, mode, var)
        first, _, rest = got.partition("\n")
        if first != e["header"]:
            raise Failure(f"{' '.join(mode) or 'raw'}: file header line {first!r}, expected {e['header']!r}")
        for text, orig in e.get("addresses", {}).items():
            rest = rest.replace(text, orig)
        if rest != want.partition("\n")[2]:
            raise Failure(f"{' '.join(mode) or 'raw'}: differs from the source at "
                          + first_diff(want.partition("\n")[2], rest))


def per_connection(its):
    out = {}
    for it in its:
        out.setdefault(it[1], []).append(it)
    return out


def check_runs(e, its, source, runs):
    recs = per_connection([i for i in its if i[0] == "rec"])
    got = [len(recs.get(c + 1, [])) for c in range(len(runs))]
    if got != runs:
        raise Failure(f"{source}: records per connection {got}, the capture has runs {runs}")


def shift_times(lines, us):
    def sub(m):
        t = datetime.strptime(m.group(0), "%Y-%m-%d %H:%M:%S.%f") - timedelta(microseconds=us)
        return t.strftime("%Y-%m-%d %H:%M:%S.%f")
    return [TIME.sub(sub, x) for x in lines]


def check_interleave(dssview, e, src, var, cache):
    for mode in MODES:
        got = per_connection(items(run(dssview, mode, var)))
        if sorted(got) != [s["connection"] for s in e["sources"]]:
            raise Failure(f"connections {sorted(got)}, expected {[s['connection'] for s in e['sources']]}")
        for s in e["sources"]:
            want = items(cache(s["source"], mode))
            c = s["connection"]

            def norm(x):
                x = x.replace(f"connection {c}  ", "connection 1  ")
                for new, old in s["ports"].items():
                    x = x.replace(f":{new} ", f":{old} ")
                return x
            mine = []
            for it in got[c]:
                if it[0] == "conn":
                    mine.append(("conn", 1, norm(it[2] + " ").rstrip(" ")))
                else:
                    mine.append(("rec", 1, shift_times([norm(h + " ").rstrip(" ") for h in it[2]],
                                                        s["shift_us"]), it[3]))
            if mine != want:
                n = next((k for k, (a, b) in enumerate(zip(mine, want)) if a != b), min(len(mine), len(want)))
                raise Failure(f"{' '.join(mode) or 'raw'}: connection {c} ({s['source']}) differs from "
                              f"the source at its item {n + 1}: "
                              f"{mine[n] if n < len(mine) else None!r:.300} != "
                              f"{want[n] if n < len(want) else None!r:.300}")


def check_gaps(dssview, e, src, var, cache):
    expected_gaps = {}
    for c, side, n in e["gaps"]:
        expected_gaps.setdefault((c + 1, side), []).append(n)
    gap_lines = None
    for mode in MODES:
        its = items(run(dssview, mode, var))
        gaps = {}
        started = {}
        for it in its:
            if it[0] != "conn":
                continue
            m = GAP.match(it[2])
            if m:
                gaps.setdefault((it[1], m.group(2)), []).append(int(m.group(1)))
            elif it[2].endswith((" opened", " seen")):
                started[it[1]] = it[2].rsplit(" ", 1)[1]
        if gaps != expected_gaps:
            raise Failure(f"{' '.join(mode) or 'raw'}: gaps {sorted(gaps.items())}, expected "
                          f"{sorted(expected_gaps.items())}")
        if gap_lines is None:
            gap_lines = [it for it in its if it[0] == "conn"]
        elif [it for it in its if it[0] == "conn"] != gap_lines:
            raise Failure(f"{' '.join(mode) or 'raw'}: CONNECTION lines differ from the raw listing's")
        for c in range(len(e["runs"])):
            want = "seen" if c in e["seen"] else "opened"
            if started.get(c + 1) != want:
                raise Failure(f"connection {c + 1}: {started.get(c + 1)!r}, expected {want!r}")
        if mode == ["-r"]:
            continue
        source = items(cache(e["source"], mode))
        check_runs(e, source, e["source"], e["runs"])
        by_run = {}
        for c, recs in per_connection([i for i in source if i[0] == "rec"]).items():
            for r, it in enumerate(recs):
                by_run[(c - 1, r)] = it
        recs = [i for i in its if i[0] == "rec"]
        k = 0
        for c, r in e["records"]:
            want = by_run[(c, r)]
            while k < len(recs) and recs[k] != want:
                k += 1
            if k == len(recs):
                raise Failure(f"{' '.join(mode) or 'raw'}: record {r + 1} of connection {c + 1} of the "
                              f"source ({want[2][1:]}) is not in the variant's output, or out of order")
            k += 1
        if e["seen"] and len(recs) != len(e["records"]):
            raise Failure(f"{' '.join(mode) or 'raw'}: {len(recs)} records, expected {len(e['records'])}")

# ---------------------------------------------------------------- tshark


def record_bytes(text):
    """{(connection, "client"|"server"): bytes} read back from a raw listing."""
    out = {}
    for it in items(text):
        if it[0] != "rec":
            continue
        side = "client" if " > " in it[2][0] else "server"
        data = bytes.fromhex("".join(x[8:41].replace(" ", "") for x in it[3] if LISTING.match(x)))
        n = int(next(h for h in it[2] if h.startswith("\tbytes ")).split()[1])
        if len(data) != n - 1:
            raise Failure(f"a record of {n} bytes lists {len(data)} bytes of data")
        key = (it[1], side)
        out[key] = out.get(key, b"") + data
    return out


def client_ports(text):
    """{connection: client port} from the opened/seen lines."""
    out = {}
    for it in items(text):
        if it[0] == "conn" and it[2].endswith((" opened", " seen")):
            out[it[1]] = int(it[2].split(" > ")[0].rsplit(":", 1)[1])
    return out


MISSING = re.compile(rb"^\[(\d+) bytes missing in capture file\]\x00$")


def tshark_follow(path, n):
    """[(port of node 0, node 0's bytes, port of node 1, node 1's bytes,
    {0|1: [bytes missing...]})] of TCP streams 0..n-1. tshark puts a text in
    the stream where bytes are missing; those are taken out."""
    args = ["tshark", "-r", path, "-q"]
    for i in range(n):
        args += ["-z", f"follow,tcp,raw,{i}"]
    r = subprocess.run(args, capture_output=True, text=True)
    if r.returncode:
        raise Failure(f"tshark cannot read {path}: {r.stderr.strip()}")
    streams, cur = {}, None
    for line in r.stdout.split("\n"):
        if line.startswith("Filter:"):
            # tshark prints the streams asked for in an order of its own.
            cur = [None, b"", None, b"", {0: [], 1: []}]
            streams[int(line.rsplit(" ", 1)[1])] = cur
        elif line.startswith("Node 0:") or line.startswith("Node 1:"):
            cur[0 if line[5] == "0" else 2] = int(line.rsplit(":", 1)[1])
        elif cur is None or not line.strip() or line.startswith(("=", "Follow:")):
            continue
        else:
            node = 1 if line.startswith("\t") else 0
            data = bytes.fromhex(line.strip())
            m = MISSING.match(data)
            if m:
                cur[4][node].append(int(m.group(1)))
            else:
                cur[1 + 2 * node] += data
    return [streams[i] for i in sorted(streams)]


TSHARK_PICK = {"reorder", "retrans", "overlap_conflict", "seqwrap_reorder", "ng_sections", "ipv6_null",
               "midconn", "interleave"}
TSHARK_SOURCES = {"s01_connect", "s04_manyrows"}


def check_tshark(dssview, path):
    text = run(dssview, [], path)
    mine = record_bytes(text)
    ports = client_ports(text)
    gaps = {}
    for it in items(text):
        m = GAP.match(it[2]) if it[0] == "conn" else None
        if m:
            gaps.setdefault((it[1], m.group(2)), []).append(int(m.group(1)))
    streams = tshark_follow(path, len(ports))
    if len(streams) != len(ports):
        raise Failure(f"tshark follows {len(streams)} streams, dssview shows {len(ports)} connections")
    for c, (p0, b0, p1, b1, missing) in enumerate(streams, 1):
        client, server = (b0, b1) if p0 == ports[c] else (b1, b0)
        lost = {"client": missing[0 if p0 == ports[c] else 1], "server": missing[1 if p0 == ports[c] else 0]}
        for side, want in (("client", client), ("server", server)):
            if gaps.get((c, side), []) != lost[side]:
                raise Failure(f"connection {c} {side}: dssview's gaps {gaps.get((c, side), [])}, "
                              f"tshark's {lost[side]}")
            got = mine.get((c, side), b"")
            if got != want:
                n = next((k for k, (x, y) in enumerate(zip(got, want)) if x != y), min(len(got), len(want)))
                raise Failure(f"connection {c} {side}: dssview {len(got)} bytes, tshark {len(want)}; "
                              f"first difference at byte {n}")


def main(argv):
    args = argv[1:]
    only = None
    tshark = None
    if "--only" in args:
        i = args.index("--only")
        only = set(args[i + 1].split(","))
        del args[i:i + 2]
    if "--tshark" in args:
        i = args.index("--tshark")
        tshark = "pick"
        if i + 1 < len(args) and args[i + 1] == "all":
            tshark = "all"
            del args[i + 1]
        del args[i]
    if len(args) != 3:
        sys.stderr.write(__doc__)
        return 2
    dssview, src, vdir = args
    with open(os.path.join(vdir, "manifest.json")) as f:
        manifest = json.load(f)
    outputs = {}

    def cache(source, mode):
        key = (source, tuple(mode))
        if key not in outputs:
            outputs[key] = run(dssview, mode, os.path.join(src, source + ".pcap"))
        return outputs[key]

    failures, checked = [], 0
    if only is not None or tshark is None:
        for e in manifest:
            if only is not None and e["variant"] not in only:
                continue
            var = os.path.join(vdir, e["file"])
            try:
                {"same": check_same, "interleave": check_interleave, "gaps": check_gaps}[e["check"]](
                    dssview, e, src, var, cache)
                checked += 1
            except Failure as x:
                failures.append(f"{e['file']}: {x}")
        if only is not None and not checked and not failures:
            failures.append(f"no variant named {sorted(only)} in the manifest")
    if tshark is not None:
        if shutil.which("tshark") is None:
            print("tshark is not installed: the cross-check with its TCP reassembly is skipped")
            if only is None:
                return 77
        else:
            paths = sorted(os.path.join(src, n) for n in os.listdir(src) if n.endswith(".pcap"))
            for e in manifest:
                if tshark == "all" or (e["variant"] in TSHARK_PICK and
                                       (e["check"] == "interleave" or e["source"] in TSHARK_SOURCES)):
                    paths.append(os.path.join(vdir, e["file"]))
            for p in paths:
                try:
                    check_tshark(dssview, p)
                    checked += 1
                except Failure as x:
                    failures.append(f"{os.path.basename(p)}: tshark cross-check: {x}")
    for f in failures:
        print("FAIL", f)
    print(f"{checked} checked, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
