#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the seed corpora of the fuzz targets.

    fuzz/make_seeds.py OUT_DIR [TRACES_DIR]

OUT_DIR/<target>/ receives one file per seed for the targets trace,
listing, decoder and dispatch (input formats: fuzz/checks.h) and the
capture targets capture_file, capture_reassembly and capture_tool (input
formats: fuzz/capture_checks.h; seeds from tests/data/captures and
hand-built captures of every file form and link type). Seeds come
from the real traces in TRACES_DIR (default: ../shared/traces beside the
repository, when it exists) and from hand-built traces that cover every
trace header form, every DSS and object header form and every special
value printer.
"""
import hashlib
import os
import re
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEP = b"\xFE\xED\xD0\x5E"  # record separator of the decoder target

# Value kinds from the code point dictionary.
KINDS = {}
with open(os.path.join(ROOT, "drda/ddm/codepoint_table.cpp")) as f:
    for m in re.finditer(r"\{0x([0-9A-Fa-f]{4}),\s*k(\w+),", f.read()):
        KINDS[int(m.group(1), 16)] = m.group(2)
COLLECTIONS = {cp for cp, k in KINDS.items() if k == "Collection"}

# Code points of the dispatch target, in the order of kSpecialCodePoints.
SPECIAL = [0x0010, 0x113F, 0x1149, 0x114A, 0x1187, 0x119B, 0x119F, 0x11A2, 0x11A4, 0x11AA,
           0x11AC, 0x11E8, 0x11EA, 0x1404, 0x1903, 0x1904, 0x1909, 0x190A, 0x1912, 0x1C03,
           0x2101, 0x210A, 0x2112, 0x2113, 0x2115, 0x2139, 0x213F, 0x2142, 0x2143, 0x2146,
           0x2147, 0x2148, 0x214D, 0x2150, 0x2152, 0x2157, 0x2408, 0x2415, 0x241A]


def be16(v):
    return struct.pack(">H", v & 0xFFFF)


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def record(data, typ=b"W", name=b"arSendBuf", time=1796748491.25, role=1,
           name_len=None, count=None, stamp=None):
    out = typ + be32(len(name) if name_len is None else name_len) + name
    out += be32(len(data) + 1 if count is None else count)
    out += stamp if stamp is not None else struct.pack(">d", time)
    return out + bytes([role]) + data


def trace(*records, version=1):
    return b"DRDADBG" + be32(version) + b"".join(records)


def obj(cp, value=b"", ll=None):
    return be16(len(value) + 4 if ll is None else ll) + be16(cp) + value


def dss(payload, fmt=0x01, corr=1, ll=None):
    return be16(len(payload) + 6 if ll is None else ll) + bytes([0xD0, fmt]) + be16(corr) + payload


def read_records(path):
    """(type, data) of every whole record of a trace file."""
    with open(path, "rb") as f:
        b = f.read()
    p, out = 11, []
    while p + 5 <= len(b):
        typ = b[p]
        n = struct.unpack(">i", b[p + 1:p + 5])[0]
        q = p + 5 + n
        d = struct.unpack(">i", b[q:q + 4])[0]
        q += 12
        if q + d > len(b):
            break
        out.append((typ, b[q:q + d]))
        p = q + d
    return b, out


def objects(buf):
    """Every DDM object (cp, value) in a buffer, collections walked."""
    found = []

    def walk(data):
        p = 0
        while p + 4 <= len(data):
            ll, cp = struct.unpack(">HH", data[p:p + 4])
            if ll < 4 or ll & 0x8000:
                return
            value = data[p + 4:p + ll]
            found.append((cp, value))
            if cp in COLLECTIONS:
                walk(value)
            p += ll

    p = 0
    while p + 6 <= len(buf) and buf[p + 2] == 0xD0:
        ll = struct.unpack(">H", buf[p:p + 2])[0] & 0x7FFF
        if ll < 6:
            break
        walk(buf[p + 6:p + ll])
        p += ll
    return found


class Corpus:
    def __init__(self, out):
        self.out = out
        self.count = {}

    def add(self, target, data, limit=None):
        if limit is not None and len(data) > limit:
            data = data[:limit]
        d = os.path.join(self.out, target)
        os.makedirs(d, exist_ok=True)
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
        self.count[target] = self.count.get(target, 0) + 1


def real_seeds(c, traces_dir):
    per_special = {}
    for name in sorted(os.listdir(traces_dir)):
        if not name.endswith(".drdadbg"):
            continue
        raw, recs = read_records(os.path.join(traces_dir, name))
        # Whole small traces; the first records of the large ones.
        if len(raw) <= 16384:
            c.add("trace", raw)
        else:
            c.add("trace", raw[:16384])
        # A cut at every record boundary region is for the mutation suite;
        # here the file cut inside its second record is enough.
        c.add("trace", raw[:200])
        for i, (typ, data) in enumerate(recs):
            direction = b"\x01" if typ == ord("W") else b"\x00"
            if i < 24 or len(data) > 8192:
                c.add("listing", direction + data, limit=70000)
        # Runs of three consecutive buffers share one decoder.
        for i in range(0, min(len(recs), 48), 3):
            c.add("decoder", SEP.join(d[:24000] for _, d in recs[i:i + 3]))
        for _, data in recs:
            for cp, value in objects(data[1:]):
                if cp in SPECIAL and len(per_special.setdefault(cp, [])) < 3 and value not in per_special[cp]:
                    per_special[cp].append(value)
    for cp, values in per_special.items():
        for v in values:
            c.add("dispatch", bytes([SPECIAL.index(cp)]) + v[:4096])


def hand_seeds(c):
    excsat = obj(0x1041, obj(0x115E, b"\xC1\xC2\xC3") + obj(0x1404, be16(0x1403) + be16(7) + be16(0x2407) + be16(7)))
    d_ok = dss(excsat)

    # Trace file forms: empty, short magic, bad magic, header only, short
    # version, bad type, function names of 0/1/20/21 bytes, byte counts of
    # 0, 1, negative and 2 GiB, invalid and negative timestamps, short data.
    for t in [b"", b"DRDA", b"DRDADBX" + be32(1), trace(), b"DRDADBG\x00\x00",
              trace(version=-5), trace(b"X"), trace(record(d_ok, typ=b"Q")),
              trace(record(d_ok, name=b"a")), trace(record(d_ok, name=b"n" * 20)),
              trace(record(d_ok, name_len=0)), trace(record(d_ok, name_len=21)),
              trace(record(d_ok, name=b"na\x00me")),
              trace(record(d_ok, count=0)), trace(record(b"", count=1)),
              trace(record(d_ok, count=-7)), trace(record(d_ok, count=0x7FFFFFFF)),
              trace(record(d_ok, count=0x7FFFFFF0)),
              trace(record(d_ok, stamp=b"\xFF\xF0" + b"\x00" * 6), record(d_ok)),
              trace(record(d_ok, time=-0.5)), trace(record(d_ok, time=0.5)),
              trace(record(d_ok), record(d_ok, typ=b"R", role=0))[:-3],
              trace(record(d_ok), record(d_ok, typ=b"R"))[:30]]:
        c.add("trace", t)

    # DSS forms for the listing and the decoder.
    buffers = [
        b"", b"\x00", b"ABCDEFGHI", d_ok, d_ok + d_ok,
        dss(excsat, fmt=0x51), dss(excsat, fmt=0x04), dss(excsat, fmt=0x0F), dss(excsat, fmt=0xC2),
        dss(excsat, fmt=0x05), dss(excsat, fmt=0x03), dss(excsat, fmt=0x00),
        dss(obj(0x1234, b"zz")), d_ok + dss(obj(0x1234, b"zz"), fmt=0x04) + d_ok,
        dss(excsat, ll=0) + d_ok, dss(excsat, ll=0x8000) + be16(0x0005) + b"abc",
        dss(excsat, ll=3) + d_ok, dss(excsat, ll=6), dss(excsat, ll=0x7FFF),
        dss(excsat + b"\x00" * 32800, ll=0xFFFF) + be16(0x8010) + b"\x00" * 14 + be16(0x0000) + b"tail",
        dss(excsat)[:8], d_ok + dss(excsat)[:3], d_ok[:-2],
        b"\x00\x12\xC0\x41" + d_ok,
        b"\x00" * 70000,
    ]
    # Object header forms and nesting for the decoder.
    nested = obj(0x0000, b"")
    for _ in range(80):
        nested = obj(0x2001, nested)
    objs = [
        obj(0x2001, obj(0x2110, b"\xC4\xC2") + obj(0x0000, b"", ll=0x8004) + b"streamed rest"),
        obj(0x2001, b"", ll=0x8008) + be32(5) + b"12345",
        obj(0x2001, b"", ll=0x8008)[:6],
        obj(0x2413, b"", ll=0x8008) + be32(0xFFFFFFFF) + b"x" * 20,
        obj(0x2001, b"", ll=0x8005) + b"\x01",
        obj(0x2001, b"", ll=0x800C) + b"\x00" * 8,
        obj(0x2110, b"", ll=2), obj(0x2110, b"", ll=0),
        obj(0x2001, obj(0x2001, b"", ll=0) * 40),
        obj(0x2001, obj(0x2110, b"ab") * 500),
        nested,
        obj(0x2001, obj(0x2110, b"abcdef", ll=200)),
        obj(0x1041, obj(0x115E, b"x" * 300)),
    ]
    for o in objs:
        buffers.append(dss(o))
    for b in buffers:
        for direction in (b"\x00", b"\x01"):
            c.add("listing", direction + b"\x01" + b)
        c.add("decoder", b"\x01" + b)
    c.add("listing", b"\xFE\x01" + d_ok)  # a direction that is neither

    # Cut-off DSS headers carried into the next buffer (1 to 5 bytes), a
    # short buffer after a cut, and an empty one.
    full = dss(excsat)
    for cut in range(1, 6):
        c.add("decoder", b"\x01" + d_ok + full[:cut] + SEP + b"\x00" + full[cut:] + d_ok)
    c.add("decoder", b"\x01" + full[:3] + SEP + b"\x01" + full[3:5] + SEP + b"\x01" + full[5:])
    c.add("decoder", b"\x01" + full[:2] + SEP + b"\x01" + SEP + b"\x01" + full[2:])

    # Special printers: sound and degenerate values of every code point.
    mgr = be16(0x1403) + be16(7) + be16(0x2407) + be16(7) + be16(0x240F) + be16(1208) + be16(0x1234) + be16(3)
    pkgnam = b"DB".ljust(18) + b"NULLID".ljust(18) + b"SYSSH200".ljust(18)
    pkg_long = be16(30) + b"DATABASE_WITH_A_LONG_NAME_0123" + be16(6) + b"NULLID" + be16(8) + b"SYSSH200"
    token = b"SYSLVL01"
    sqlcard_null = b"\xFF"
    sqlca = (b"\x00" + struct.pack(">i", -204) + b"42704" + b"SYSLVL01" + struct.pack(">iiiiii", 1, 2, 3, 4, 5, 6)
             + b"WWWWWWWWWWW" + b"\x00" + be16(0) + be16(5) + b"hello" + be16(0) + b"DB".ljust(18)
             + be16(3) + b"abc" + be16(0) + be16(4) + b"errm" + be16(0))
    fdodsc = (b"\x06\x71\xE4\xD0\x00\x01" + b"\x09\x71\xE0\x54\x00\x01\xD0\x00\x01"
              + b"\x0C\x76\xD0\x02\x00\x04\x03\x00\x09\x3F\x00\x10" + b"\x06\x71\xF0\xE0\x00\x00"
              + b"\x07\x78\x00\x05\x02\x01\x00")
    values = {
        0x1149: [b"\x00\x08", b"\x00\x10", b"\x00\x7F", b"", b"\x00"],
        0x2408: [sqlcard_null, sqlca, sqlca[:20], sqlca + b"trailing"],
        0x1404: [mgr, mgr[:3], b""], 0x1C03: [mgr],
        0x210A: [pkgnam, pkg_long, pkg_long[:9], b""],
        0x2112: [pkgnam + token, pkg_long + token],
        0x2113: [pkgnam + token + be16(1), pkg_long + token + be16(65535)],
        0x2139: [(pkgnam + token + be16(1)) * 3, pkgnam + token],
        0x0010: [fdodsc, fdodsc[:13], b"\x02\x71", b"\x00\x00\x00"],
        0x241A: [fdodsc, b"\x03\x76\xD0"], 0x2415: [fdodsc],
        0x11E8: [b"\x7F\x00\x00\x01", b"\x00" * 16, b"\x01\x02"],
        0x1912: [be16(50000) + b"host.example", b"\x01"],
        0x11AA: [be16(4) + b"ABCD" + be16(8) + b"LUNAME01" + b"\x00" * 6 + be16(1), b"\x00"],
        0x119F: [b"\x00\x01", b"\xFF\xFF", b""],
        0x11A2: [b"\x00\x03", b"\x00\x03\x00\x04\x00\x09", b"\x00\x63"],
        0x1903: [b"\x00\x00\x00\x01", b"\x80\x00\x00\x00"],
        0x1904: [b"\xFF\xFF\xFF\xFD", b"\x00\x00\x00\x64"],
        0x1909: [b"\x00\x01"], 0x190A: [b"\x02\x00"],
    }
    for i, cp in enumerate(SPECIAL):
        generic = [b"", b"\x00", b"\x01", b"\xF1", b"\x00\x01", b"\x24\x1A", b"\x00\x00\x00\x02", b"\xFF" * 9]
        for v in values.get(cp, []) + generic:
            c.add("dispatch", bytes([i]) + v)
    # Code points reached by number: no printer (data dump), and a kind-8 one.
    c.add("dispatch", b"\xF0" + be16(0x1234) + b"some value bytes")
    c.add("dispatch", b"\xF3" + be16(0x2408) + sqlca)


# --- captures ------------------------------------------------------------------


def ip_tcp(seq, ack, flags, payload, back=False, v6=False):
    sport, dport, a, b = 40000, 1527, 1, 2
    if back:
        sport, dport, a, b = dport, sport, b, a
    tcp = struct.pack(">HHIIBBHHH", sport, dport, seq, ack, 0x50, flags, 65535, 0, 0) + payload
    if v6:
        return (struct.pack(">IHBB", 0x60000000, len(tcp), 6, 64) + b"\x20\x01" + bytes(13) + bytes([a])
                + b"\x20\x01" + bytes(13) + bytes([b]) + tcp)
    return struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 1, 0, 64, 6, 0,
                       bytes([10, 0, 0, a]), bytes([10, 0, 0, b])) + tcp


def conversation_packets(v6=False):
    req = dss(obj(0x2414, b"SELECT 1"))
    rep = dss(obj(0x2408, b"\xff"), fmt=0x02)
    return [ip_tcp(999, 0, 0x02, b"", v6=v6), ip_tcp(1000, 5001, 0x18, req, v6=v6),
            ip_tcp(5001, 1000 + len(req), 0x18, rep, back=True, v6=v6),
            ip_tcp(1000 + len(req), 0, 0x11, b"", v6=v6)]


def pcap(frames, link=1, be=False):
    e = ">" if be else "<"
    out = struct.pack(e + "IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, link)
    for i, f in enumerate(frames):
        out += struct.pack(e + "IIII", 1796753790, i, len(f), len(f)) + f
    return out


def ng_block(t, body, be=False):
    e = ">" if be else "<"
    body += bytes(-len(body) % 4)
    return struct.pack(e + "II", t, len(body) + 12) + body + struct.pack(e + "I", len(body) + 12)


def pcapng(frames, link=1, be=False):
    e = ">" if be else "<"
    out = ng_block(0x0A0D0D0A, struct.pack(e + "IHHq", 0x1A2B3C4D, 1, 0, -1), be)
    out += ng_block(1, struct.pack(e + "HHI", link, 0, 0) + struct.pack(e + "HH", 9, 1) + b"\x09\0\0\0", be)
    for i, f in enumerate(frames):
        out += ng_block(6, struct.pack(e + "IIIII", 0, 0, i, len(f), len(f)) + f, be)
    out += ng_block(3, struct.pack(e + "I", 4) + b"abcd", be) + ng_block(0xBAD, b"x", be)
    return out


def capture_seeds(c):
    caps = os.path.join(ROOT, "tests", "data", "captures")
    if os.path.isdir(caps):
        for name in sorted(os.listdir(caps)):
            with open(os.path.join(caps, name), "rb") as f:
                b = f.read()
            for t in ("capture_file", "capture_tool"):
                c.add(t, b, limit=16384)
    eth = lambda ip: bytes(12) + (b"\x86\xdd" if ip[0] >> 4 == 6 else b"\x08\x00") + ip
    vlan = lambda ip: bytes(12) + b"\x81\x00\x00\x64" + eth(ip)[12:]
    sll = lambda ip: struct.pack(">HHH8sH", 0, 772, 6, bytes(8), 0x86DD if ip[0] >> 4 == 6 else 0x800) + ip
    sll2 = lambda ip: struct.pack(">HHIHBB8s", 0x86DD if ip[0] >> 4 == 6 else 0x800, 0, 1, 772, 0, 6, bytes(8)) + ip
    null = lambda ip: struct.pack("<I", 30 if ip[0] >> 4 == 6 else 2) + ip
    raw = lambda ip: ip
    for link, wrap in ((1, eth), (1, vlan), (113, sll), (276, sll2), (0, null), (101, raw)):
        for v6 in (False, True):
            frames = [wrap(p) for p in conversation_packets(v6)]
            for t in ("capture_file", "capture_tool"):
                c.add(t, pcap(frames, link, be=v6))
                c.add(t, pcapng(frames, link, be=not v6))
    # Reassembly: segments in the format of capture_checks.h.
    def seg(conn, back, flags, seq, ack, payload=b"", missing=0):
        b = conn | (4 if back else 0) | flags
        return struct.pack(">BIIBB", b, seq, ack, len(payload), missing) + payload
    FIN, SYN, RST, ACK, CUT = 8, 16, 32, 64, 128
    req = dss(obj(0x2414, b"SELECT 1"))
    c.add("capture_reassembly", seg(0, 0, SYN, 99, 0) + seg(0, 1, SYN | ACK, 499, 100) + seg(0, 0, ACK, 100, 500, req)
          + seg(0, 1, ACK, 500, 100 + len(req), b"reply") + seg(0, 0, FIN | ACK, 100 + len(req), 505)
          + seg(0, 1, FIN | ACK, 505, 101 + len(req)))
    c.add("capture_reassembly", seg(1, 0, ACK, 0xFFFFFFF0, 0, b"a" * 20) + seg(1, 0, ACK, 20, 0, b"c" * 8)
          + seg(1, 0, ACK, 4, 0, b"b" * 16) + seg(2, 0, 0, 1, 0, req) + seg(1, 1, ACK, 7, 40, b"r")
          + seg(2, 0, CUT, 1 + len(req), 0, b"xy", 30) + seg(2, 1, RST, 1, 0))
    c.add("capture_reassembly", b"".join(seg(i % 4, i % 3 == 0, ACK, 1000 + 37 * i, 1, bytes([i]) * 37)
                                         for i in range(40)))


def tls_seeds(c):
    """The TLS streams of tests/data/tls with their key logs (fuzz_tls.cpp)."""
    d = os.path.join(ROOT, "tests", "data", "tls")
    if not os.path.isdir(d):
        return
    for name in sorted(os.listdir(d)):
        if not name.endswith(".tls"):
            continue
        with open(os.path.join(d, name[:-4] + ".keylog"), "rb") as f:
            keylog = f.read()
        with open(os.path.join(d, name), "rb") as f:
            raw = f.read()
        chunks, p = [], 0
        while p + 5 <= len(raw):
            side, n = raw[p], struct.unpack(">I", raw[p + 1:p + 5])[0]
            data = raw[p + 5:p + 5 + n]
            p += 5 + n
            if side > 1:
                continue
            for q in range(0, len(data), 4000):
                part = data[q:q + 4000]
                h = len(part)
                chunks.append(bytes([side | (h & 0x7F) << 1, h >> 7]) + part)
        seed = keylog + b"\0" + b"".join(chunks)
        c.add("tls", seed, limit=16384)
        # Without keys, and the handshake alone.
        c.add("tls", b"\0" + b"".join(chunks), limit=4096)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    traces = sys.argv[2] if len(sys.argv) > 2 else None
    if traces is None:
        for cand in (os.path.join(ROOT, "..", "shared", "traces"), os.path.join(ROOT, "..", "..", "shared", "traces")):
            if os.path.isdir(cand):
                traces = cand
                break
    c = Corpus(out)
    if traces and os.path.isdir(traces):
        real_seeds(c, traces)
    else:
        print("make_seeds: no real traces found; hand-built seeds only", file=sys.stderr)
    hand_seeds(c)
    capture_seeds(c)
    tls_seeds(c)
    print("seeds: " + ", ".join("%s %d" % kv for kv in sorted(c.count.items())))


if __name__ == "__main__":
    main()
