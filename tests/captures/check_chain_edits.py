#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Requester and server habits the exchange tracker must keep local.

    check_chain_edits.py DSSVIEW CAPTURE_DIR WORK_DIR

For each real capture in CAPTURE_DIR this picks a request chain of several
commands in the middle of its first connection and rewrites the capture
(stream_edits) the ways other peers write DRDA: a reply group under a
correlator the requester did not use, a reply group removed (in the chain
and at its end, so that the chain's answer never ends), a reply group sent
twice, a request whose command object is malformed or sent as an object
DSS. Each rewritten capture's -j lines must equal the original's except the
lines of that chain (and reply-only lines it adds): everything after it is
paired as before. Where the answer is still complete (a wrong correlator)
every line must be the same.

One more rewrite turns an EXCSQLIMM into an EXCSQLSET carrying three
SQLSTTs: its -j line shows the three statements in order, joined by "; ",
-s shows them so, and no other line changes.
"""

import json
import os
import struct
import subprocess
import sys
from dataclasses import replace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_variants as mv  # noqa: E402
import stream_edits as se  # noqa: E402

EXCSQLIMM, EXCSQLSET, SQLSTT = 0x200A, 0x2014, 0x2414


def run(dssview, path, mode):
    r = subprocess.run([dssview, mode, path], capture_output=True, env=dict(os.environ, TZ="UTC", LC_ALL="C"))
    if r.returncode != 0:
        raise AssertionError(f"{path}: dssview {mode} exited {r.returncode}: {r.stderr.decode()[:300]}")
    return r.stdout.decode("utf-8", "replace")


def chains(ds):
    """Runs of DSSs up to one without the chained flag."""
    out, cur = [], []
    for d in ds:
        cur.append(d)
        if not d.chained:
            out.append(cur)
            cur = []
    return out


def groups(chain):
    """A reply chain's groups: runs of DSSs up to one that does not announce
    the same correlator next."""
    out, cur = [], []
    for d in chain:
        cur.append(d)
        if not d.fmt & 0x10:
            out.append(cur)
            cur = []
    if cur:
        out.append(cur)
    return out


def set_corr(segs, conn, ds, corr):
    for d in ds:
        segs = se.edit(segs, conn, False, d.off + 4, 2, struct.pack(">H", corr))
    return segs


def pick(segs):
    """(connection, chain number from 1, its request DSSs, its reply DSSs)
    of a chain of two or more commands answered in two or more groups, the
    middle one of those in the first connection that has them."""
    for conn in sorted({s.conn for s in segs}):
        req = chains(se.dsss(se.stream(segs, conn, True)))
        rep = chains(se.dsss(se.stream(segs, conn, False)))
        if len(req) != len(rep):
            continue
        good = [i for i in range(len(req) - 1)
                if sum(d.kind == 1 for d in req[i]) >= 2 and len(groups(rep[i])) >= 2]
        if good:
            i = good[len(good) // 2]
            return conn, i + 1, req[i], rep[i]
    return None


def edits(segs):
    """(name, rewritten segments, connection, chain, all lines the same)."""
    p = pick(segs)
    if p is None:
        return []
    conn, k, req, rep = p
    g = groups(rep)
    cmds = [d for d in req if d.kind == 1]
    unused = 0x7F00 + k
    out = [
        ("corr-last-group", set_corr(segs, conn, g[-1], unused), True),
        ("corr-first-group", set_corr(segs, conn, g[0], unused), True),
        ("reply-removed", se.edit(segs, conn, False, g[0][0].off, sum(d.length for d in g[0])), False),
        ("reply-twice", se.edit(segs, conn, False, g[0][-1].off + g[0][-1].length, 0,
                                se.stream(segs, conn, False)[g[0][0].off:g[0][-1].off + g[0][-1].length]), False),
        ("request-object-length", se.edit(segs, conn, True, cmds[1].off + 6, 2, b"\x00\x02"), False),
        ("request-as-object", se.edit(segs, conn, True, cmds[1].off + 3, 1, bytes([cmds[1].fmt & 0xF0 | 3])), False),
    ]
    if len(g) >= 2 and sum(d.length for d in g[-1]) < sum(d.length for d in rep):
        # The end of the chain's answer never comes.
        out.append(("reply-end-removed", se.edit(segs, conn, False, g[-1][0].off, sum(d.length for d in g[-1])),
                    False))
    return [(name, s, conn, k, same) for name, s, same in out]


def key(line):
    j = json.loads(line)
    return j["conn"], j["chain"]


def check_local(name, orig, new, conn, chain, same):
    o, n = orig.splitlines(), new.splitlines()
    if same:
        assert o == n, f"{name}: -j differs from the original's"
        return
    ours = (conn + 1, chain)
    known = set(o)
    rest_o = [l for l in o if key(l) != ours]
    rest_n = [l for l in n if key(l) != ours and not (key(l) == (conn + 1, None) and l not in known)]
    assert rest_o == rest_n, f"{name}: lines outside chain {ours} differ:\n" + "\n".join(
        f"- {a}\n+ {b}" for a, b in zip(rest_o, rest_n) if a != b)[:3000]


def sqlstt_value(text):
    """An SQLSTT's value: the mixed-byte string present, the single-byte null."""
    b = text.encode()
    return b"\x00" + struct.pack(">I", len(b)) + b + b"\xff"


def excsqlset(segs):
    """The capture with its first EXCSQLIMM made an EXCSQLSET of three SQLSTT
    DSSs; (segments, connection, the original -j line's index, texts,
    bytes added) or None."""
    for conn in sorted({s.conn for s in segs}):
        ds = se.dsss(se.stream(segs, conn, True))
        for i in range(len(ds) - 1):
            cmd, obj = ds[i], ds[i + 1]
            if cmd.cp != EXCSQLIMM or obj.cp != SQLSTT or obj.corr != cmd.corr:
                continue
            texts = ["SET SCHEMA APP", "VALUES CURRENT SCHEMA", "SET CURRENT ISOLATION = CS"]
            dss = []
            for n, t in enumerate(texts):
                v = sqlstt_value(t)
                fmt = (obj.fmt | 0x50) if n < 2 else obj.fmt
                dss.append(struct.pack(">HBBH", 10 + len(v), 0xD0, fmt, obj.corr)
                           + struct.pack(">HH", 4 + len(v), SQLSTT) + v)
            new = b"".join(dss)
            segs2 = se.edit(segs, conn, True, obj.off, obj.length, new)
            segs2 = se.edit(segs2, conn, True, cmd.off + 8, 2, struct.pack(">H", EXCSQLSET))
            return segs2, conn, cmd.corr, texts, len(new) - obj.length
    return None


def main(argv):
    dssview, src, work = argv[1:4]
    os.makedirs(work, exist_ok=True)
    names = sorted(n[:-5] for n in os.listdir(src) if n.endswith(".pcap"))
    done = 0
    for n in names:
        path = os.path.join(src, n + ".pcap")
        segs = mv.read_pcap(path)
        orig = run(dssview, path, "-j")
        for name, s, conn, chain, same in edits(segs):
            out = os.path.join(work, f"{n}.{name}.pcap")
            with open(out, "wb") as f:
                f.write(mv.pcap(mv.fill(mv.eth_recs(s)), 1))
            check_local(f"{n} {name}", orig, run(dssview, out, "-j"), conn, chain, same)
            done += 1
        e = excsqlset(segs)
        if e is None:
            continue
        s, conn, corr, texts, added = e
        out = os.path.join(work, f"{n}.excsqlset.pcap")
        with open(out, "wb") as f:
            f.write(mv.pcap(mv.fill(mv.eth_recs(s)), 1))
        o, m = orig.splitlines(), run(dssview, out, "-j").splitlines()
        assert len(o) == len(m), f"{n} excsqlset: {len(o)} lines, now {len(m)}"
        changed = [i for i in range(len(o)) if o[i] != m[i]]
        assert len(changed) == 1, f"{n} excsqlset: lines {changed} changed"
        want = json.loads(o[changed[0]])
        assert want["command"] == "EXCSQLIMM" and want["corr"] == corr, o[changed[0]]
        want.update(command="EXCSQLSET", sql="; ".join(texts), updated=None, bytes_out=want["bytes_out"] + added)
        assert json.loads(m[changed[0]]) == want, f"{n} excsqlset:\n{m[changed[0]]}\nwanted\n{json.dumps(want)}"
        summary = run(dssview, out, "-s")
        assert "; ".join(texts) in summary, f"{n} excsqlset: -s does not show the three statements"
        done += 1
    assert done >= 20, f"only {done} rewrites checked"
    print(f"{done} rewrites checked")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
