#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Makes TLS byte streams with their key logs for the unit tests of the TLS
# reader: a Python TLS client and server talk through memory buffers (no
# network), once per version and suite, and the script writes
#   NAME.tls     chunks: side (0 client, 1 server: bytes on the wire;
#                2, 3: the plaintext the client and the server sent),
#                4-byte big-endian length, the bytes
#   NAME.keylog  the client's key log
# Run from this directory; the suites of TLS 1.3 are chosen through an
# OpenSSL configuration, since Python's ssl cannot choose them.
import os
import ssl
import struct
import subprocess
import sys
import tempfile

VARIANTS = [
    ("tls13_aes128gcm", "TLSv1_3", "TLS_AES_128_GCM_SHA256", None),
    ("tls13_aes256gcm", "TLSv1_3", "TLS_AES_256_GCM_SHA384", None),
    ("tls13_chacha20", "TLSv1_3", "TLS_CHACHA20_POLY1305_SHA256", None),
    ("tls12_ecdhe_aes128gcm", "TLSv1_2", None, "ECDHE-RSA-AES128-GCM-SHA256"),
    ("tls12_ecdhe_aes256gcm", "TLSv1_2", None, "ECDHE-RSA-AES256-GCM-SHA384"),
    ("tls12_ecdhe_chacha20", "TLSv1_2", None, "ECDHE-RSA-CHACHA20-POLY1305"),
    ("tls12_rsa_aes128gcm", "TLSv1_2", None, "AES128-GCM-SHA256"),
    ("tls12_ecdhe_cbc", "TLSv1_2", None, "ECDHE-RSA-AES128-SHA256"),
]


def run(name, version, suite13, suite12, cert, key):
    out = []
    keylog = name + ".keylog"
    if os.path.exists(keylog):
        os.remove(keylog)
    v = getattr(ssl.TLSVersion, version)
    sctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    sctx.load_cert_chain(cert, key)
    cctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    cctx.check_hostname = False
    cctx.verify_mode = ssl.CERT_NONE
    cctx.keylog_filename = keylog
    for c in (sctx, cctx):
        c.minimum_version = v
        c.maximum_version = v
        if suite12:
            c.set_ciphers(suite12 + ":@SECLEVEL=0")
    c_in, s_in = ssl.MemoryBIO(), ssl.MemoryBIO()
    c_out, s_out = ssl.MemoryBIO(), ssl.MemoryBIO()
    client = cctx.wrap_bio(c_in, c_out, server_side=False)
    server = sctx.wrap_bio(s_in, s_out, server_side=True)

    def move():
        moved = False
        d = c_out.read()
        if d:
            out.append((0, d)); s_in.write(d); moved = True
        d = s_out.read()
        if d:
            out.append((1, d)); c_in.write(d); moved = True
        return moved

    done = [False, False]
    for _ in range(50):
        for i, end in enumerate((client, server)):
            if not done[i]:
                try:
                    end.do_handshake()
                    done[i] = True
                except ssl.SSLWantReadError:
                    pass
        if not move() and all(done):
            break
    assert all(done), name

    def send(end, side, data):
        end.write(data)
        out.append((2 + side, data))
        move()

    def recv(end, n):
        got = b""
        while len(got) < n:
            try:
                got += end.read(n - len(got))
            except ssl.SSLWantReadError:
                if not move():
                    raise
        return got

    msgs = [b"\x00\x1a\xd0\x41\x00\x01" + bytes(range(20)),
            bytes((i * 7) & 0xFF for i in range(18000)),
            b"reply" * 300, b"x"]
    for i, m in enumerate(msgs):
        side = i % 2
        a, b = (client, server) if side == 0 else (server, client)
        send(a, side, m)
        assert recv(b, len(m)) == m
    # Both ends close (alerts).
    for end in (client, server):
        try:
            end.unwrap()
        except (ssl.SSLWantReadError, ssl.SSLError):
            pass
        move()
    with open(name + ".tls", "wb") as f:
        for side, data in out:
            f.write(struct.pack(">BI", side, len(data)) + data)


def main():
    only = sys.argv[1:] or None
    with tempfile.TemporaryDirectory() as tmp:
        cert, key = os.path.join(tmp, "c.pem"), os.path.join(tmp, "k.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        conf = os.path.join(tmp, "openssl.cnf")
        for name, version, suite13, suite12 in VARIANTS:
            if only and name not in only:
                continue
            if suite13 and os.environ.get("DSSVIEW_TLS13_SUITE") != suite13:
                with open(conf, "w") as f:
                    f.write("openssl_conf = c\n[c]\nssl_conf = s\n[s]\nsystem_default = d\n"
                            "[d]\nCiphersuites = %s\n" % suite13)
                env = dict(os.environ, OPENSSL_CONF=conf, DSSVIEW_TLS13_SUITE=suite13)
                subprocess.run([sys.executable, __file__, name], check=True, env=env)
                continue
            run(name, version, suite13, suite12, cert, key)


if __name__ == "__main__":
    main()
