#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Edits of the DRDA byte stream of one side of a captured connection.

A capture is read with make_variants.read_pcap into TCP segments; here the
payload of one side of one connection is taken as one byte stream, cut into
DSSs, edited (bytes replaced, removed or inserted), and put back into the
same segments: each segment keeps its bytes around the edit, sequence and
acknowledgement numbers follow the new lengths, and make_variants writes
the result with correct checksums. Edits that keep each run of payload
non-empty keep the record numbers of the input.
"""

import os
import struct
import sys
from dataclasses import dataclass, replace

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_variants as mv  # noqa: E402


@dataclass(frozen=True)
class Dss:
    off: int        # in the side's stream
    length: int     # all its bytes, continuation headers included
    fmt: int        # the format byte: type in the low nibble, 0x40 chained, 0x10 same correlator next
    corr: int
    cp: int         # the code point of its first object (0: none)

    @property
    def kind(self):
        return self.fmt & 0x0F

    @property
    def chained(self):
        return bool(self.fmt & 0x40)


def stream(segs, conn, client):
    """The payload bytes of one side of a connection, in order."""
    return b"".join(s.payload for s in segs if s.conn == conn and s.client == client and s.payload)


def dsss(data):
    """The DSSs of a side's stream, continued ones (length with the high bit
    set, then 2-byte continuation headers) taken whole."""
    out, p = [], 0
    while p + 6 <= len(data):
        ll = struct.unpack(">H", data[p:p + 2])[0]
        n = ll & 0x7FFF
        q = p + n
        more = bool(ll & 0x8000)
        while more and q + 2 <= len(data):
            c = struct.unpack(">H", data[q:q + 2])[0]
            more = bool(c & 0x8000)
            q += c & 0x7FFF
        cp = struct.unpack(">H", data[p + 8:p + 10])[0] if n >= 10 else 0
        out.append(Dss(p, q - p, data[p + 3], struct.unpack(">H", data[p + 4:p + 6])[0], cp))
        p = q
    return out


def edit(segs, conn, client, off, remove, insert=b""):
    """segs with `remove` bytes at `off` of one side's stream replaced by
    `insert`; the other segments of that side move along."""
    data = stream(segs, conn, client)
    assert 0 <= off and off + remove <= len(data)
    delta = len(insert) - remove

    def moved(p):
        if p <= off:
            return p
        if p <= off + remove:
            return off + len(insert)
        return p + delta

    new = data[:off] + insert + data[off + remove:]
    side = [s for s in segs if s.conn == conn and s.client == client]
    base = next(s.seq for s in side if s.payload)
    out, pos = [], 0
    for s in segs:
        if s.conn != conn:
            out.append(s)
        elif s.client == client:
            rel = (s.seq - base) % 2**32
            if s.payload:
                n = len(s.payload)
                # Bytes inserted at a boundary go to the segment that
                # begins there.
                a = moved(pos) if pos != off else off
                b = moved(pos + n) if pos + n != off else off
                s = replace(s, payload=new[a:b], seq=(base + a) % 2**32)
                pos += n
            elif rel <= len(data):
                s = replace(s, seq=(base + moved(rel)) % 2**32)
            out.append(s)
        else:
            rel = (s.ack - base) % 2**32
            if s.flags & mv.ACK and rel <= len(data):
                s = replace(s, ack=(base + moved(rel)) % 2**32)
            out.append(s)
    return out
