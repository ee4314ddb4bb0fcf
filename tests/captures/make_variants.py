#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Makes, from real packet captures, the other forms a capture reader meets.

    make_variants.py SOURCE_DIR OUT_DIR

SOURCE_DIR holds classic pcap files (Ethernet, IPv4, TCP) of DRDA
conversations. For each of them this writes into OUT_DIR the same packets in
other file formats, link types and IP versions, the TCP payloads cut into
small segments, reordered, retransmitted and overlapping, and forms that lose
bytes (a capture started in the middle of a connection that also loses a
request and its reply, a small snap length); and two merges of two captures
whose connections interleave. OUT_DIR/manifest.json says, for each file made,
what its source is and what a reader must print for it compared with the
source (see check_variants.py).

Only the Python standard library is used. The output depends on nothing but
the source files: no clock, no random numbers without a fixed seed.
"""

import json
import os
import struct
import sys
from dataclasses import dataclass, replace

# ---------------------------------------------------------------- packets


@dataclass(frozen=True)
class Seg:
    """One TCP segment of a source capture, with what the variants change."""
    ts_ns: int
    src: bytes          # IPv4 address, 4 bytes
    dst: bytes
    sport: int
    dport: int
    seq: int
    ack: int
    flags: int          # TCP flag byte (FIN 0x01, SYN 0x02, RST 0x04, PSH 0x08, ACK 0x10)
    win: int
    urp: int
    opts: bytes         # TCP options
    payload: bytes
    ip_id: int
    ttl: int
    tos: int
    ip_flags: int       # the top three bits of the fragment field
    conn: int = -1      # connection index in the source capture
    client: bool = True  # sent by the client
    run: int = -1       # for a segment with payload: index of its run in its connection


FIN, SYN, RST, PSH, ACK = 0x01, 0x02, 0x04, 0x08, 0x10


def read_pcap(path):
    """Segments of a little- or big-endian, micro- or nanosecond pcap file of
    Ethernet frames holding IPv4 TCP packets (what the sources are)."""
    with open(path, "rb") as f:
        d = f.read()
    magic = d[:4]
    forms = {b"\xd4\xc3\xb2\xa1": ("<", 1000), b"\xa1\xb2\xc3\xd4": (">", 1000),
             b"\x4d\x3c\xb2\xa1": ("<", 1), b"\xa1\xb2\x3c\x4d": (">", 1)}
    if magic not in forms:
        raise SystemExit(f"{path}: not a pcap file")
    end, scale = forms[magic]
    (link,) = struct.unpack(end + "I", d[20:24])
    if link != 1:
        raise SystemExit(f"{path}: link type {link}, expected Ethernet")
    out = []
    p = 24
    while p + 16 <= len(d):
        sec, frac, incl, orig = struct.unpack(end + "IIII", d[p:p + 16])
        frame = d[p + 16:p + 16 + incl]
        p += 16 + incl
        if incl != orig:
            raise SystemExit(f"{path}: cut packet in a source capture")
        if frame[12:14] != b"\x08\x00":
            continue
        ip = frame[14:]
        ihl = (ip[0] & 15) * 4
        total = struct.unpack(">H", ip[2:4])[0]
        if ip[9] != 6:
            continue
        tcp = ip[ihl:total]
        off = (tcp[12] >> 4) * 4
        out.append(Seg(
            ts_ns=sec * 1_000_000_000 + frac * scale,
            src=ip[12:16], dst=ip[16:20],
            sport=struct.unpack(">H", tcp[0:2])[0], dport=struct.unpack(">H", tcp[2:4])[0],
            seq=struct.unpack(">I", tcp[4:8])[0], ack=struct.unpack(">I", tcp[8:12])[0],
            flags=tcp[13], win=struct.unpack(">H", tcp[14:16])[0],
            urp=struct.unpack(">H", tcp[18:20])[0], opts=bytes(tcp[20:off]),
            payload=bytes(tcp[off:]), ip_id=struct.unpack(">H", ip[4:6])[0],
            ttl=ip[8], tos=ip[1], ip_flags=ip[6] & 0xE0))
    return label(out)


def label(segs):
    """Sets each segment's connection index, side and run index. A new
    connection begins with a SYN without ACK, or with a 4-tuple not seen
    before. The client is the side that sent the SYN, else the side whose
    port is not 446, 1527 or 50000. A run is a stretch of payload of one
    side of one connection not interrupted by payload of the other side: one
    record of a requester's trace."""
    conns = {}       # 4-tuple -> index
    nconn = 0
    client_of = {}   # index -> (addr, port) of the client
    last_side = {}   # index -> side of the last payload
    runs = {}        # index -> runs so far
    out = []
    for s in segs:
        a, b = (s.src, s.sport), (s.dst, s.dport)
        key = (min(a, b), max(a, b))
        if key not in conns or (s.flags & (SYN | ACK)) == SYN:
            conns[key] = nconn
            client_of[nconn] = a if s.flags & SYN else (b if s.sport in (446, 1527, 50000) else a)
            last_side[nconn] = None
            runs[nconn] = 0
            nconn += 1
        c = conns[key]
        client = a == client_of[c]
        run = -1
        if s.payload:
            if last_side[c] != client:
                runs[c] += 1
                last_side[c] = client
            run = runs[c] - 1
        out.append(replace(s, conn=c, client=client, run=run))
    return out


def runs_of(segs):
    """{conn: [(client, total bytes, [segments])...]} in the order of the runs."""
    out = {}
    for s in segs:
        if s.payload:
            rl = out.setdefault(s.conn, [])
            while len(rl) <= s.run:
                rl.append([s.client, 0, []])
            rl[s.run][1] += len(s.payload)
            rl[s.run][2].append(s)
    return out

# ---------------------------------------------------------------- IP and TCP


def csum(data, start=0):
    if len(data) % 2:
        data += b"\0"
    s = start + sum(struct.unpack(">%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return s


def tcp_bytes(s, pseudo):
    hlen = 20 + len(s.opts)
    head = struct.pack(">HHIIBBHHH", s.sport, s.dport, s.seq, s.ack, (hlen // 4) << 4, s.flags,
                       s.win, 0, s.urp) + s.opts
    c = 0xFFFF - csum(head + s.payload, csum(pseudo + struct.pack(">I", hlen + len(s.payload))))
    return head[:16] + struct.pack(">H", c) + head[18:] + s.payload


def ipv4(s, options=b"", zero_total=False):
    """An IPv4 packet. zero_total writes 0 as the total length (as captures
    of TCP segmentation offload show it)."""
    tcp = tcp_bytes(s, s.src + s.dst + b"\0\x06")
    ihl = 20 + len(options)
    total = 0 if zero_total else ihl + len(tcp)
    head = struct.pack(">BBHHHBBH4s4s", 0x40 | ihl // 4, s.tos, total, s.ip_id, s.ip_flags << 8,
                       s.ttl, 6, 0, s.src, s.dst) + options
    c = 0xFFFF - csum(head)
    return head[:10] + struct.pack(">H", c) + head[12:] + tcp


def v6addr(a4, client):
    """The IPv6 address that stands for an IPv4 address of a source: one per
    side, in the documentation prefix."""
    return bytes.fromhex("20010db8000000000000000000000000")[:15] + (b"\x0c" if client else b"\x15")


V6_TEXT = {True: "2001:db8::c", False: "2001:db8::15"}


def ipv6(s, exts=()):
    """An IPv6 packet; exts is a sequence of extension header types (0
    hop-by-hop options, 60 destination options) put before the TCP header."""
    src, dst = v6addr(s.src, s.client), v6addr(s.dst, not s.client)
    tcp = tcp_bytes(s, src + dst + b"\0\0\0\x06")
    chain = b""
    types = list(exts) + [6]
    for i, t in enumerate(exts):
        # 8 bytes: next header, length 0 (8 bytes in all), a PadN option of 4 bytes.
        chain += bytes([types[i + 1], 0, 1, 4, 0, 0, 0, 0])
    head = struct.pack(">IHBB16s16s", 0x60000000 | (s.ip_id & 0xFFFFF), len(chain) + len(tcp),
                       types[0], s.ttl, src, dst)
    return head + chain + tcp

# ---------------------------------------------------------------- link layers

MAC_C = bytes.fromhex("020000000c01")
MAC_S = bytes.fromhex("020000000c02")


def eth(s, ip, ethertype=0x0800, tags=()):
    """An Ethernet frame; tags is a sequence of (TPID, TCI) put before the
    EtherType (802.1ad 0x88A8, 802.1Q 0x8100)."""
    dst, src = (MAC_S, MAC_C) if s.client else (MAC_C, MAC_S)
    head = dst + src
    for tpid, tci in tags:
        head += struct.pack(">HH", tpid, tci)
    return head + struct.pack(">H", ethertype) + ip


def sll(s, ip, proto=0x0800):
    """Linux cooked v1: packet type (0 to us, 4 sent by us), ARPHRD, address."""
    return struct.pack(">HHH8sH", 4 if s.client else 0, 1, 6, MAC_C if s.client else MAC_S,
                       proto) + ip


def sll2(s, ip, proto=0x0800):
    """Linux cooked v2: protocol, reserved, interface index, ARPHRD, packet
    type, address length, address."""
    return struct.pack(">HHIHBB8s", proto, 0, 1, 1, 4 if s.client else 0, 6,
                       MAC_C if s.client else MAC_S) + ip


def null(ip, family, endian):
    return struct.pack(endian + "I", family) + ip

# ---------------------------------------------------------------- file writers


def pcap(recs, link, endian="<", nano=False, snap=262144):
    """recs: (ts_ns, frame, original length)."""
    magic = 0xA1B23C4D if nano else 0xA1B2C3D4
    out = [struct.pack(endian + "IHHiIII", magic, 2, 4, 0, 0, snap, link)]
    for ts, frame, orig in recs:
        sec, ns = divmod(ts, 1_000_000_000)
        frac = ns if nano else ns // 1000
        out.append(struct.pack(endian + "IIII", sec, frac, len(frame), orig))
        out.append(frame)
    return b"".join(out)


def ng_block(endian, btype, body):
    body += b"\0" * (-len(body) % 4)
    n = 12 + len(body)
    return struct.pack(endian + "II", btype, n) + body + struct.pack(endian + "I", n)


def ng_opts(endian, opts):
    out = b""
    for code, value in opts:
        out += struct.pack(endian + "HH", code, len(value)) + value + b"\0" * (-len(value) % 4)
    return out + struct.pack(endian + "HH", 0, 0) if opts else out


def ng_section(endian, interfaces, packets, extra_before=(), extra_after=(), known_length=True):
    """One pcapng section. interfaces: (link type, tsresol exponent or None);
    packets: (interface, ts_ns, frame, original length, block kind) with
    kind "epb" (enhanced) or "pb" (the obsolete packet block); extra_*:
    (block type, body) written before the first packet and after the last."""
    blocks = []
    for link, res in interfaces:
        opts = [(2, b"dssview-test")]
        if res is not None:
            opts.append((9, bytes([res])))
        blocks.append(ng_block(endian, 1, struct.pack(endian + "HHI", link, 0, 262144)
                               + ng_opts(endian, opts)))
    for btype, body in extra_before:
        blocks.append(ng_block(endian, btype, body))
    for iface, ts, frame, orig, kind in packets:
        orig = len(frame) if orig is None else orig
        res = interfaces[iface][1]
        units = ts // 1000 if res is None else ts // 10 ** (9 - res)
        hi, lo = units >> 32, units & 0xFFFFFFFF
        if kind == "pb":
            head = struct.pack(endian + "HHIIII", iface, 0, hi, lo, len(frame), orig)
        else:
            head = struct.pack(endian + "IIIII", iface, hi, lo, len(frame), orig)
        blocks.append(ng_block(endian, 6 if kind == "epb" else 2, head + frame))
    for btype, body in extra_after:
        blocks.append(ng_block(endian, btype, body))
    rest = b"".join(blocks)
    length = len(rest) if known_length else -1
    shb = ng_block(endian, 0x0A0D0D0A, struct.pack(endian + "IHHq", 0x1A2B3C4D, 1, 0, length)
                   + ng_opts(endian, [(4, b"make_variants.py")]))
    return shb + rest


def ng_isb(endian, iface, ts_ns, received, res=None):
    units = ts_ns // 1000 if res is None else ts_ns // 10 ** (9 - res)
    return (5, struct.pack(endian + "III", iface, units >> 32, units & 0xFFFFFFFF)
            + ng_opts(endian, [(4, struct.pack(endian + "Q", received))]))


def ng_nrb(endian):
    # One IPv4 record (127.0.0.1 localhost), then the end of records.
    rec = b"\x7f\0\0\x01localhost\0"
    return (4, struct.pack(endian + "HH", 1, len(rec)) + rec + b"\0" * (-len(rec) % 4)
            + struct.pack(endian + "HH", 0, 0))


def ng_custom():
    # A custom block that may be copied (0x00000BAD) with a private enterprise
    # number and bytes no reader knows; and a block type no standard defines.
    return [(0x00000BAD, struct.pack("<I", 32473) + b"not a packet: 0xD0 0x01"),
            (0x4F4B4F4B, b"\xd0\x01\0\x0f" * 4)]

# ---------------------------------------------------------------- segment forms


def split(segs, size):
    """Every payload cut into segments of at most size bytes, all with the
    time of the packet they come from; PSH and FIN stay on the last piece."""
    out = []
    for s in segs:
        if len(s.payload) <= size:
            out.append([s])
            continue
        pieces = []
        n = (len(s.payload) + size - 1) // size
        for i in range(n):
            last = i == n - 1
            flags = s.flags if last else s.flags & ~(PSH | FIN)
            pieces.append(replace(s, seq=(s.seq + i * size) & 0xFFFFFFFF, flags=flags,
                                  payload=s.payload[i * size:(i + 1) * size],
                                  ip_id=(s.ip_id + i) & 0xFFFF))
        out.append(pieces)
    return out   # one list of pieces per source segment


def reorder(groups):
    """The pieces of each source segment out of order: reversed for every
    other cut segment (the first piece comes last), pairs swapped for the
    others."""
    out = []
    cut = 0
    for g in groups:
        if len(g) > 1:
            if cut % 2 == 0:
                g = g[::-1]
            else:
                g = [g[i ^ 1] if (i ^ 1) < len(g) else g[i] for i in range(len(g))]
            cut += 1
        out.extend(g)
    return out


def spoil(s, keep_from):
    """s with every payload byte before sequence offset keep_from inverted:
    bytes a reader has already seen, sent again with other content."""
    p = bytes(b ^ 0xFF for b in s.payload[:keep_from]) + s.payload[keep_from:]
    return replace(s, payload=p)


def retransmit(groups, conflict):
    """Pieces in order, with retransmissions: every 7th piece is sent twice,
    after every 5th piece comes a segment covering its last half and the
    first half of the next piece of the same run, and in every third run the
    other side's last piece comes again after the run's first piece (a
    spurious retransmission, which must not end the run). With conflict,
    the bytes a reader already has are inverted in every copy: the first
    bytes seen must win."""
    flat = [s for g in groups for s in g]
    out = []
    last_piece = {}   # (conn, client) -> last payload piece sent
    last_side = {}    # conn -> side of the last payload piece
    for i, s in enumerate(flat):
        out.append(s)
        if not s.payload:
            continue
        first_of_run = last_side.get(s.conn) != s.client
        last_side[s.conn] = s.client
        last_piece[(s.conn, s.client)] = s
        old = last_piece.get((s.conn, not s.client))
        if first_of_run and old is not None and s.run % 3 == 1:
            old = replace(old, flags=old.flags & ~FIN)
            out.append(spoil(old, len(old.payload)) if conflict else old)
        if len(out) % 7 == 0:
            dup = replace(s, flags=s.flags & ~FIN)
            out.append(spoil(dup, len(s.payload)) if conflict else dup)
        nxt = flat[i + 1] if i + 1 < len(flat) else None
        if len(out) % 5 == 0 and nxt is not None and nxt.payload and nxt.conn == s.conn \
                and nxt.client == s.client and nxt.run == s.run and len(s.payload) >= 2:
            h = len(s.payload) // 2
            both = s.payload + nxt.payload[:len(nxt.payload) // 2]
            ov = replace(s, seq=(s.seq + h) & 0xFFFFFFFF, payload=both[h:], flags=s.flags & ~FIN)
            out.append(spoil(ov, len(s.payload) - h) if conflict else ov)
    return out


def wrap_sequences(segs):
    """Sequence and acknowledgment numbers moved so that each side's 32-bit
    sequence number wraps in the middle of its data."""
    first, total = {}, {}
    for s in segs:
        k = (s.conn, s.client)
        first.setdefault(k, s.seq)
        total[k] = total.get(k, 0) + len(s.payload)
    shift = {k: (0x100000000 - first[k] - total[k] // 2 - 1) & 0xFFFFFFFF for k in first}
    out = []
    for s in segs:
        mine = shift[(s.conn, s.client)]
        theirs = shift.get((s.conn, not s.client), 0)
        ack = (s.ack + theirs) & 0xFFFFFFFF if s.flags & ACK else s.ack
        out.append(replace(s, seq=(s.seq + mine) & 0xFFFFFFFF, ack=ack))
    return out

# ---------------------------------------------------------------- variants


def eth_recs(segs, ip=ipv4):
    return [(s.ts_ns, eth(s, ip(s)), None) for s in segs]


def fill(recs):
    return [(t, f, len(f) if o is None else o) for t, f, o in recs]


def same_variants(segs):
    """(name, file bytes, file kind, IPv6) of the forms that must print as the
    source does."""
    v = []
    eth4 = fill(eth_recs(segs))
    v.append(("be", pcap(eth4, 1, ">"), "pcap", False))
    v.append(("ns", pcap([(t + 123, f, o) for t, f, o in eth4], 1, "<", nano=True), "pcap", False))
    v.append(("be_ns", pcap([(t + 456, f, o) for t, f, o in eth4], 1, ">", nano=True), "pcap", False))
    v.append(("sll", pcap(fill((s.ts_ns, sll(s, ipv4(s)), None) for s in segs), 113), "pcap", False))
    v.append(("sll2", pcap(fill((s.ts_ns, sll2(s, ipv4(s)), None) for s in segs), 276), "pcap", False))
    v.append(("null", pcap(fill((s.ts_ns, null(ipv4(s), 2, "<"), None) for s in segs), 0), "pcap", False))
    v.append(("loop", pcap(fill((s.ts_ns, null(ipv4(s), 2, ">"), None) for s in segs), 108, ">"),
              "pcap", False))
    v.append(("raw", pcap(fill((s.ts_ns, ipv4(s), None) for s in segs), 101), "pcap", False))
    v.append(("vlan", pcap(fill((s.ts_ns, eth(s, ipv4(s), tags=[(0x8100, 0x2064)]), None)
                                for s in segs), 1), "pcap", False))
    v.append(("qinq", pcap(fill((s.ts_ns, eth(s, ipv4(s), tags=[(0x88A8, 0x0123), (0x8100, 0x0064)]),
                                 None) for s in segs), 1), "pcap", False))
    # IPv4 options (a router alert and padding) on every other packet, the
    # total length written as 0 on every third.
    v.append(("ipv4opts", pcap(fill(
        (s.ts_ns, eth(s, ipv4(s, options=b"\x94\x04\0\0\x01\x01\x01\0" if i % 2 else b"",
                              zero_total=i % 3 == 0)), None)
        for i, s in enumerate(segs)), 1), "pcap", False))
    # IPv6: a hop-by-hop and a destination options header on every third
    # packet, a destination options header alone on every fifth.
    def exts(i):
        return (0, 60) if i % 3 == 0 else ((60,) if i % 5 == 0 else ())
    v.append(("ipv6", pcap(fill((s.ts_ns, eth(s, ipv6(s, exts(i)), 0x86DD), None)
                                for i, s in enumerate(segs)), 1), "pcap", True))
    v.append(("ipv6_raw", pcap(fill((s.ts_ns, ipv6(s, exts(i + 1)), None)
                                    for i, s in enumerate(segs)), 101), "pcap", True))
    # BSD loopback carries IPv6 as 24, 28 or 30 by the writing system.
    v.append(("ipv6_null", pcap(fill((s.ts_ns, null(ipv6(s, exts(i)), (24, 28, 30)[i % 3], "<"), None)
                                     for i, s in enumerate(segs)), 0), "pcap", True))
    v.append(("ipv6_sll2", pcap(fill((s.ts_ns, sll2(s, ipv6(s, exts(i + 2)), 0x86DD), None)
                                     for i, s in enumerate(segs)), 276), "pcap", True))
    # pcapng: two interfaces, Ethernet with microseconds and SLL2 with
    # nanoseconds, packets alternating between them; every fifth packet in
    # the obsolete packet block; a name resolution block, a custom block and
    # a block of an unknown type before the packets, statistics after them.
    le = "<"
    pk = [(i % 2, s.ts_ns, eth(s, ipv4(s)) if i % 2 == 0 else sll2(s, ipv4(s)), None,
           "pb" if i % 5 == 4 else "epb") for i, s in enumerate(segs)]
    last = segs[-1].ts_ns
    v.append(("ng2if", ng_section(le, [(1, None), (276, 9)], pk,
                                  extra_before=[ng_nrb(le)] + ng_custom(),
                                  extra_after=[ng_isb(le, 0, last, (len(pk) + 1) // 2),
                                               ng_isb(le, 1, last, len(pk) // 2, 9)]),
              "pcapng", False))
    # pcapng, one big-endian section.
    be = ">"
    v.append(("ng_be", ng_section(be, [(1, None)], [(0, s.ts_ns, f, len(f), "epb")
                                                    for s, (_, f, _) in zip(segs, eth4)],
                                  extra_before=[ng_nrb(be)]), "pcapng", False))
    # pcapng, three sections: little-endian (Ethernet), big-endian (raw IP
    # and SLL with nanoseconds alternating, length not given), little-endian
    # (IPv6 on Ethernet). A connection goes on across sections.
    a, b = len(segs) // 3, 2 * len(segs) // 3
    s1 = ng_section(le, [(1, None)], [(0, s.ts_ns, eth(s, ipv4(s)), None, "epb") for s in segs[:a]])
    s2 = ng_section(be, [(101, None), (113, 9)],
                    [(i % 2, s.ts_ns, ipv4(s) if i % 2 == 0 else sll(s, ipv4(s)), None, "epb")
                     for i, s in enumerate(segs[a:b])], known_length=False)
    s3 = ng_section(le, [(1, 6)], [(0, s.ts_ns, eth(s, ipv4(s)), None, "epb") for s in segs[b:]])
    v.append(("ng_sections", s1 + s2 + s3, "pcapng", False))
    # Cut small, reordered, retransmitted, overlapping; sequence numbers wrapping.
    groups = split(segs, 100)
    v.append(("split100", pcap(fill(eth_recs([s for g in groups for s in g])), 1), "pcap", False))
    v.append(("reorder", pcap(fill(eth_recs(reorder(groups))), 1), "pcap", False))
    v.append(("retrans", pcap(fill(eth_recs(retransmit(groups, False))), 1), "pcap", False))
    v.append(("overlap_conflict", pcap(fill(eth_recs(retransmit(groups, True))), 1), "pcap", False))
    v.append(("seqwrap", pcap(fill(eth_recs(wrap_sequences(segs))), 1), "pcap", False))
    v.append(("seqwrap_reorder", pcap(fill(eth_recs(reorder(split(wrap_sequences(segs), 1000)))), 1),
              "pcap", False))
    return v


def midconn(segs):
    """The capture starts in the middle of the first connection, at the
    first reply after its fourth run (handshake and first exchanges lost),
    and later loses a request and its reply (all their payload packets). Returns
    (segments, expected)."""
    rl = runs_of(segs)[0]
    start_run = next(r for r in range(4, len(rl)) if not rl[r][0])
    start = segs.index(rl[start_run][2][0])
    lost = next(r for r in range(start_run + 3, len(rl) - 3)
                if rl[r][0] and not rl[r + 1][0])
    gone = {id(s) for s in rl[lost][2] + rl[lost + 1][2]}
    kept = [s for s in segs[start:] if id(s) not in gone]
    kept_runs = [(s.conn, s.run) for s in kept if s.payload]
    return kept, {
        "seen": [0],
        "gaps": [[0, "client", rl[lost][1]], [0, "server", rl[lost + 1][1]]],
        "records": sorted(set(kept_runs), key=kept_runs.index),
    }


def snap(segs, snaplen):
    """Every packet cut to snaplen bytes of Ethernet frame, as the capture
    would hold it. Returns (records, expected): the gap each cut packet
    makes, and the runs whose packets are all whole."""
    recs, gaps, whole = [], [], {}
    for s in segs:
        f = eth(s, ipv4(s))
        recs.append((s.ts_ns, f[:snaplen], len(f)))
        if s.payload:
            lost = max(0, len(f) - snaplen)
            if lost:
                gaps.append([s.conn, "client" if s.client else "server", lost])
            key = (s.conn, s.run)
            whole[key] = whole.get(key, True) and not lost
    return recs, {"seen": [], "gaps": gaps, "records": [list(k) for k, ok in whole.items() if ok]}


def interleave(a, b, offset_ns, port):
    """The connections of b moved to start offset_ns after those of a, its
    client port changed to port, merged with a by time (a first at equal
    times). Returns the segments and the time shift of b."""
    shift = a[0].ts_ns + offset_ns - b[0].ts_ns
    shift -= shift % 1000
    moved = []
    for s in b:
        if s.client:
            s2 = replace(s, sport=port, ts_ns=s.ts_ns + shift, conn=s.conn + 100)
        else:
            s2 = replace(s, dport=port, ts_ns=s.ts_ns + shift, conn=s.conn + 100)
        moved.append(s2)
    merged = sorted([(s.ts_ns, 0, i, s) for i, s in enumerate(a)]
                    + [(s.ts_ns, 1, i, s) for i, s in enumerate(moved)])
    return [m[3] for m in merged], shift


def client_port(segs):
    s = segs[0]
    return s.sport if s.client else s.dport


def header_line(data):
    """The file header line a reader prints for the file."""
    if data[:4] == b"\x0a\x0d\x0d\x0a":
        return "pcapng capture"
    end = "<" if data[:4] in (b"\xd4\xc3\xb2\xa1", b"\x4d\x3c\xb2\xa1") else ">"
    major, minor = struct.unpack(end + "HH", data[4:8])
    (link,) = struct.unpack(end + "I", data[20:24])
    return f"pcap capture, version {major}.{minor}, link type {link}"


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    src, out = argv[1], argv[2]
    os.makedirs(out, exist_ok=True)
    names = sorted(n[:-5] for n in os.listdir(src) if n.endswith(".pcap"))
    if not names:
        raise SystemExit(f"{src}: no .pcap files")
    manifest = []
    segs_of = {}

    def write(name, data, entry):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        entry = dict(file=name, header=header_line(data), **entry)
        manifest.append(entry)

    for n in names:
        segs = read_pcap(os.path.join(src, n + ".pcap"))
        segs_of[n] = segs
        runs = [len(r) for _, r in sorted(runs_of(segs).items())]
        for vname, data, kind, v6 in same_variants(segs):
            entry = {"variant": vname, "source": n, "check": "same", "runs": runs}
            if v6:
                entry["addresses"] = {f"[{V6_TEXT[True]}]": "127.0.0.1",
                                      f"[{V6_TEXT[False]}]": "127.0.0.1"}
            write(f"{n}.{vname}.{'pcapng' if kind == 'pcapng' else 'pcap'}", data, entry)
        kept, exp = midconn(segs)
        write(f"{n}.midconn.pcap", pcap(fill(eth_recs(kept)), 1),
              dict(variant="midconn", source=n, check="gaps", runs=runs, **exp))
        recs, exp = snap(segs, 200)
        write(f"{n}.snap200.pcap", pcap(recs, 1, snap=200),
              dict(variant="snap200", source=n, check="gaps", runs=runs, **exp))

    for x, y in (("s03_types", "s06_errors"), ("s04_manyrows", "s11_batch")):
        if x not in segs_of or y not in segs_of:
            continue
        a, b = segs_of[x], segs_of[y]
        port = 40000 + client_port(b) % 20000
        if port == client_port(a):
            port += 1
        merged, shift = interleave(a, b, 50_000_000, port)
        write(f"{x}+{y}.interleave.pcap", pcap(fill(eth_recs(merged)), 1),
              {"variant": "interleave", "check": "interleave", "runs": [len(runs_of(a)[0]), len(runs_of(b)[0])],
               "sources": [{"source": x, "connection": 1, "shift_us": 0, "ports": {}},
                           {"source": y, "connection": 2, "shift_us": shift // 1000,
                            "ports": {str(port): client_port(b)}}]})

    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
        f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
