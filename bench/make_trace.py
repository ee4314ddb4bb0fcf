#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Builds a large DRDADBG trace for throughput runs of the raw listing.

The trace mixes three kinds of records until the traced buffers hold at
least --mib MiB:

  * the records of the real traces in examples/ and in any extra directory
    given with --real (repeated, so the short request/reply chains of real
    conversations are well represented);
  * query replies: a chain of OBJDSSs carrying QRYDTA objects of 1 to 32 KiB
    of row-like data (EBCDIC and ASCII text, packed numbers, nulls);
  * long objects of 64 to 160 KiB: one DSS whose first segment has the
    continuation flag, followed by continuation segments of up to 32767 bytes.

With --conversations it writes only the real traces instead, each whole and
in order (so every query's descriptor comes before its rows and -r decodes
them), one after the other and again until --mib MiB: the rows-heavy input
that -r is measured on.

Besides the trace it writes the concatenated traced buffers (the same bytes
the listing dumps) to a second file, so that a plain hex dumper can be timed
on exactly those bytes. The output is deterministic for a given --seed.
"""

import argparse
import glob
import os
import random
import struct
import sys

HEADER = b"DRDADBG" + struct.pack(">i", 1)


def record(direction, function, role, buffer, stamp):
    data = bytes([role]) + buffer
    name = function.encode()
    return (direction + struct.pack(">i", len(name)) + name + struct.pack(">i", len(data))
            + struct.pack(">d", stamp) + data)


def real_records(paths):
    """(direction, function, role, buffer) of every record of the given traces."""
    out = []
    for path in paths:
        with open(path, "rb") as f:
            d = f.read()
        if d[:7] != b"DRDADBG":
            continue
        p = 11
        while p < len(d):
            direction = d[p:p + 1]
            (n,) = struct.unpack(">i", d[p + 1:p + 5])
            function = d[p + 5:p + 5 + n].decode("latin-1")
            p += 5 + n
            (count,) = struct.unpack(">i", d[p:p + 4])
            p += 12
            data = d[p:p + count]
            p += count
            out.append((direction, function, data[0], data[1:]))
    return out


def row_pool(rng, n):
    """n bytes that look like answer-set rows: EBCDIC and ASCII text, packed
    decimals, binary integers, null indicators."""
    parts = []
    size = 0
    ebcdic_text = bytes(range(0xC1, 0xCA)) + bytes(range(0xD1, 0xDA)) + bytes(range(0xF0, 0xFA)) + b"\x40" * 6
    ascii_text = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789     "
    while size < n:
        kind = rng.randrange(5)
        if kind == 0:
            chunk = bytes(rng.choice(ebcdic_text) for _ in range(rng.randrange(4, 40)))
        elif kind == 1:
            chunk = bytes(rng.choice(ascii_text) for _ in range(rng.randrange(4, 40)))
        elif kind == 2:
            chunk = rng.randbytes(rng.randrange(2, 12))
        elif kind == 3:
            chunk = b"\x00" + struct.pack(">i", rng.randrange(-2**31, 2**31))
        else:
            chunk = b"\xff"
        parts.append(chunk)
        size += len(chunk)
    return b"".join(parts)[:n]


POOL_SIZE = 4 * 1024 * 1024


def row_bytes(rng, pool, n):
    """n bytes of row data, cut from the pool at a random place."""
    out = bytearray()
    while len(out) < n:
        at = rng.randrange(len(pool) - 1)
        out += pool[at:at + n - len(out)]
    return bytes(out)


def dss(dss_type, corr, objects, chained=False):
    """One DSS holding the given (code point, value) objects."""
    body = b"".join(struct.pack(">HH", 4 + len(v), cp) + v for cp, v in objects)
    flags = 0x40 if chained else 0x00
    return struct.pack(">HBBH", 6 + len(body), 0xD0, flags | dss_type, corr) + body


def query_reply(rng, pool, corr):
    """OPNQRYRM-like reply, then QRYDSC and a few QRYDTA blocks."""
    parts = [dss(2, corr, [(0x2205, struct.pack(">HHH", 6, 0x1149, 0))], chained=True),
             dss(3, corr, [(0x241A, b"\x06\x76\xd0\x01\x00\x00" + rng.randbytes(20))], chained=True)]
    for _ in range(rng.randrange(1, 6)):
        size = rng.randrange(1024, 32767 - 10)
        parts.append(dss(3, corr, [(0x241B, row_bytes(rng, pool, size))], chained=True))
    return b"".join(parts)


def long_object(rng, pool, corr):
    """One DSS of 64 to 160 KiB: a first segment of 32767 bytes with the
    continuation flag, then continuation segments."""
    total = rng.randrange(64 * 1024, 160 * 1024)
    payload = row_bytes(rng, pool, total)
    first_room = 32767 - 10
    out = bytearray(struct.pack(">HBBHHH", 0x8000 | 32767, 0xD0, 0x03, corr, 0x8008, 0x146C))
    out += struct.pack(">I", total)  # extended length of the object
    out += payload[:first_room - 4]
    rest = payload[first_room - 4:]
    while rest:
        seg = rest[:32765]
        rest = rest[32765:]
        word = 2 + len(seg)
        if rest:
            word |= 0x8000
        out += struct.pack(">H", word) + seg
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("trace", help="trace file to write")
    ap.add_argument("buffers", help="file for the concatenated traced buffers")
    ap.add_argument("--mib", type=int, default=256, help="MiB of buffer data (default 256)")
    ap.add_argument("--seed", type=int, default=1208)
    ap.add_argument("--real", action="append", default=[],
                    help="extra directory of real .drdadbg traces to draw records from")
    ap.add_argument("--conversations", action="store_true",
                    help="only the real traces, whole and in order, repeated")
    args = ap.parse_args()

    rng = random.Random(args.seed)
    pool = row_pool(rng, POOL_SIZE)
    paths = sorted(glob.glob(os.path.join(here, "..", "examples", "*.drdadbg")))
    for d in args.real:
        paths += sorted(glob.glob(os.path.join(d, "*.drdadbg")))
    real = real_records(paths)
    if not real:
        sys.exit("no real trace records found")

    target = args.mib * 1024 * 1024
    written = 0
    stamp = 1796748491.0
    n = 0
    with open(args.trace, "wb") as tf, open(args.buffers, "wb") as bf:
        tf.write(HEADER)
        while args.conversations and written < target:
            for path in paths:
                for direction, function, role, buf in real_records([path]):
                    tf.write(record(direction, function, role, buf, stamp))
                    bf.write(buf)
                    written += len(buf)
                    stamp += 0.00013
        while written < target:
            kind = n % 10
            if kind < 4:
                # A run of real records, as they came.
                start = rng.randrange(len(real))
                batch = [real[(start + i) % len(real)] for i in range(8)]
            elif kind < 9:
                batch = [(b"R", "arRecvBuf", 1, query_reply(rng, pool, 1 + n % 32767))]
            else:
                batch = [(b"R", "arRecvBuf", 1, long_object(rng, pool, 1 + n % 32767))]
            for direction, function, role, buf in batch:
                tf.write(record(direction, function, role, buf, stamp))
                bf.write(buf)
                written += len(buf)
                stamp += 0.00013
            n += 1
    print(f"{args.trace}: {written} bytes of buffer data in the records", file=sys.stderr)


if __name__ == "__main__":
    main()
