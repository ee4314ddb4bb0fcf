#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The same workload over TLS 1.3: encrypts a clear capture's connections.

    encrypt_capture.py CLEAR.pcap TLS.pcap KEYLOG

Reads a classic pcap of Ethernet, IPv4 and TCP frames (as make_capture.py
writes them) and writes TLS.pcap, where every connection is a TLS 1.3
connection (TLS_AES_128_GCM_SHA256): a ClientHello, a ServerHello and both
Finished messages are put in front of its first data, and every data
segment becomes one application data record (or several, at 16 KiB) in a
segment of its own, sequence and acknowledgement numbers moved to match.
KEYLOG receives the four traffic secrets of every connection. For the
benchmark only: the records are sealed with OpenSSL's libcrypto (AES-GCM
through ctypes); the secrets are made up per connection.
"""
import ctypes
import ctypes.util
import hashlib
import hmac
import struct
import sys

lib = ctypes.CDLL(ctypes.util.find_library("crypto") or "libcrypto.so.3")
lib.EVP_CIPHER_CTX_new.restype = ctypes.c_void_p
lib.EVP_aes_128_gcm.restype = ctypes.c_void_p
lib.EVP_EncryptInit_ex.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p,
                                   ctypes.c_char_p]
lib.EVP_EncryptUpdate.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.c_char_p,
                                  ctypes.c_int]
lib.EVP_EncryptFinal_ex.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
lib.EVP_CIPHER_CTX_ctrl.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_void_p]
EVP_CTRL_GCM_GET_TAG = 0x10
CTX = lib.EVP_CIPHER_CTX_new()
GCM = lib.EVP_aes_128_gcm()


def expand_label(secret, label, n):
    info = struct.pack(">HB", n, 6 + len(label)) + b"tls13 " + label + b"\x00"
    out, t, i = b"", b"", 1
    while len(out) < n:
        t = hmac.new(secret, t + info + bytes([i]), hashlib.sha256).digest()
        out += t
        i += 1
    return out[:n]


class Sealer:
    def __init__(self, secret):
        self.key = expand_label(secret, b"key", 16)
        self.iv = expand_label(secret, b"iv", 12)
        self.seq = 0

    def seal(self, inner, ctype):
        plain = inner + bytes([ctype])
        header = b"\x17\x03\x03" + struct.pack(">H", len(plain) + 16)
        nonce = bytes(a ^ b for a, b in zip(self.iv, b"\x00\x00\x00\x00" + struct.pack(">Q", self.seq)))
        self.seq += 1
        out = ctypes.create_string_buffer(len(plain) + 16)
        n = ctypes.c_int(0)
        lib.EVP_EncryptInit_ex(CTX, GCM, None, self.key, nonce)
        lib.EVP_EncryptUpdate(CTX, None, ctypes.byref(n), header, len(header))
        lib.EVP_EncryptUpdate(CTX, out, ctypes.byref(n), plain, len(plain))
        lib.EVP_EncryptFinal_ex(CTX, ctypes.byref(out, len(plain)), ctypes.byref(n))
        lib.EVP_CIPHER_CTX_ctrl(CTX, EVP_CTRL_GCM_GET_TAG, 16, ctypes.byref(out, len(plain)))
        return header + out.raw[:len(plain) + 16]


class Conn:
    def __init__(self, number, keylog):
        seed = hashlib.sha256(b"bench connection %d" % number).digest()
        self.random = seed
        secrets = {}
        for label in ("CLIENT_HANDSHAKE_TRAFFIC_SECRET", "SERVER_HANDSHAKE_TRAFFIC_SECRET",
                      "CLIENT_TRAFFIC_SECRET_0", "SERVER_TRAFFIC_SECRET_0"):
            secrets[label] = hashlib.sha256(seed + label.encode()).digest()
            keylog.write("%s %s %s\n" % (label, seed.hex(), secrets[label].hex()))
        self.hs = [Sealer(secrets["CLIENT_HANDSHAKE_TRAFFIC_SECRET"]),
                   Sealer(secrets["SERVER_HANDSHAKE_TRAFFIC_SECRET"])]
        self.app = [Sealer(secrets["CLIENT_TRAFFIC_SECRET_0"]), Sealer(secrets["SERVER_TRAFFIC_SECRET_0"])]
        self.added = [0, 0]  # bytes added so far by direction (0 client)
        self.started = False

    def handshake(self):
        """The three flights: client hello; server hello and Finished; client Finished."""
        ch = b"\x03\x03" + self.random + b"\x00" + b"\x00\x02\x13\x01" + b"\x01\x00" + b"\x00\x00"
        ch = b"\x01" + struct.pack(">I", len(ch))[1:] + ch
        sh = b"\x03\x03" + hashlib.sha256(self.random).digest() + b"\x00\x13\x01\x00" + b"\x00\x06\x00\x2b\x00\x02\x03\x04"
        sh = b"\x02" + struct.pack(">I", len(sh))[1:] + sh
        fin = b"\x14\x00\x00\x20" + bytes(32)
        return [(0, b"\x16\x03\x01" + struct.pack(">H", len(ch)) + ch),
                (1, b"\x16\x03\x03" + struct.pack(">H", len(sh)) + sh + self.hs[1].seal(fin, 22)),
                (0, self.hs[0].seal(fin, 22))]


def frame_with(frame, t, payload, seq, ack, flags=None):
    ip = bytearray(frame[:t])
    tcp = bytearray(frame[t:t + (frame[t + 12] >> 4) * 4])
    struct.pack_into(">H", ip, 16, len(ip) - 14 + len(tcp) + len(payload))
    struct.pack_into(">II", tcp, 4, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF)
    if flags is not None:
        tcp[13] = flags
    return bytes(ip) + bytes(tcp) + payload


def main():
    src, dst, keylog_path = sys.argv[1:4]
    with open(src, "rb") as f:
        d = f.read()
    out = open(dst, "wb")
    keylog = open(keylog_path, "w")
    out.write(d[:24])
    conns = {}
    number = 0
    p = 24
    while p + 16 <= len(d):
        sec, usec, incl, _ = struct.unpack("<IIII", d[p:p + 16])
        frame = d[p + 16:p + 16 + incl]
        p += 16 + incl
        if frame[12:14] != b"\x08\x00" or frame[23] != 6:
            continue
        t = 14 + (frame[14] & 15) * 4
        sport, dport, seq, ack = struct.unpack(">HHII", frame[t:t + 12])
        flags = frame[t + 13]
        payload = frame[t + (frame[t + 12] >> 4) * 4:14 + struct.unpack(">H", frame[16:18])[0]]
        key = (frame[26:30], sport, frame[30:34], dport)
        rkey = (frame[30:34], dport, frame[26:30], sport)
        if flags & 0x12 == 0x02:
            number += 1
            conns[key] = (Conn(number, keylog), 0)
        if key in conns:
            c, d_ = conns[key]
        elif rkey in conns:
            c, d_ = conns[rkey][0], 1
        else:
            number += 1
            c, d_ = Conn(number, keylog), 0
            conns[key] = (c, 0)
        frames = []
        if payload and not c.started:
            c.started = True
            for side, data in c.handshake():
                if side == d_:
                    frames.append(frame_with(frame, t, data, seq + c.added[d_], ack + c.added[1 - d_], 0x18))
                else:  # the peer's flight: addresses and ports swapped
                    f2 = bytearray(frame)
                    f2[26:30], f2[30:34] = frame[30:34], frame[26:30]
                    f2[t:t + 4] = struct.pack(">HH", dport, sport)
                    frames.append(frame_with(bytes(f2), t, data, ack + c.added[1 - d_], seq + c.added[d_], 0x18))
                c.added[side] += len(data)
        if payload:
            recs = b"".join(c.app[d_].seal(payload[i:i + 16384], 23) for i in range(0, len(payload), 16384))
            frames.append(frame_with(frame, t, recs, seq + c.added[d_], ack + c.added[1 - d_]))
            c.added[d_] += len(recs) - len(payload)
        else:
            frames.append(frame_with(frame, t, b"", seq + c.added[d_], ack + c.added[1 - d_]))
        for fr in frames:
            out.write(struct.pack("<IIII", sec, usec, len(fr), len(fr)) + fr)
    out.close()
    keylog.close()


if __name__ == "__main__":
    main()
