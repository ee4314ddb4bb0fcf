#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Rewrites a pcap of DRDA connections as other requesters and networks would
have carried the same bytes.

    recut.py SOURCE OUT [--seed S] [--max N] [--port OLD:NEW] [--reuse-port]

--max N   every TCP payload cut at random (seeded by --seed) into pieces of
          1 to N bytes, each piece a packet of its own with the time of the
          packet it comes from, its sequence number, IP length and checksums
          fixed; PSH and FIN stay on the last piece.
--port    the TCP port OLD moved to NEW in every packet.
--reuse-port
          every connection's client port made that of the first connection,
          and every FIN and RST taken away (packets left with nothing else
          are dropped): connections that reuse one port without a close
          seen; the SYN of each connection after the first is sent twice.

Packets are read and written with make_variants.py (Ethernet, IPv4).
"""

import os
import random
import sys
from dataclasses import replace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_variants as mv  # noqa: E402


def recut(segs, seed, most):
    """Each payload cut into pieces of 1..most bytes, chosen by a generator
    seeded with seed."""
    rng = random.Random(seed)
    out = []
    for s in segs:
        if len(s.payload) <= 1:
            out.append(s)
            continue
        at = 0
        n = 0
        while at < len(s.payload):
            size = min(rng.randint(1, most), len(s.payload) - at)
            last = at + size == len(s.payload)
            flags = s.flags if last else s.flags & ~(mv.PSH | mv.FIN)
            out.append(replace(s, seq=(s.seq + at) & 0xFFFFFFFF, flags=flags,
                               payload=s.payload[at:at + size], ip_id=(s.ip_id + n) & 0xFFFF))
            at += size
            n += 1
    return out


def move_port(segs, old, new):
    return [replace(s, sport=new if s.sport == old else s.sport, dport=new if s.dport == old else s.dport)
            for s in segs]


def reuse_port(segs):
    """Every connection on the first connection's client port, no FIN or
    RST seen, the SYN of every later connection sent twice."""
    port = mv.client_port(segs)
    out = []
    for s in segs:
        own = s.sport if s.client else s.dport
        if s.client:
            s = replace(s, sport=port)
        else:
            s = replace(s, dport=port)
        if s.flags & (mv.FIN | mv.RST):
            if not s.payload:
                continue
            s = replace(s, flags=s.flags & ~(mv.FIN | mv.RST))
        out.append(s)
        if s.conn > 0 and s.flags & (mv.SYN | mv.ACK) == mv.SYN and own != port:
            out.append(s)
    return out


def write(path, segs):
    with open(path, "wb") as f:
        f.write(mv.pcap(mv.fill(mv.eth_recs(segs)), 1))


def main(argv):
    args = argv[1:]
    if len(args) < 2:
        sys.stderr.write(__doc__)
        return 2
    src, out, rest = args[0], args[1], args[2:]
    seed, most, port, reuse = 1, 0, None, False
    while rest:
        opt = rest.pop(0)
        if opt == "--seed":
            seed = int(rest.pop(0))
        elif opt == "--max":
            most = int(rest.pop(0))
        elif opt == "--port":
            old, new = rest.pop(0).split(":")
            port = (int(old), int(new))
        elif opt == "--reuse-port":
            reuse = True
        else:
            sys.stderr.write(__doc__)
            return 2
    segs = mv.read_pcap(src)
    if reuse:
        segs = reuse_port(segs)
    if port:
        segs = move_port(segs, *port)
    if most:
        segs = recut(segs, seed, most)
    write(out, segs)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
