#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Encrypted Derby conversations (made by make_derby_tls.py) read with their
# key logs print what the same conversations print in clear:
#   - `-j` and `-r` of the TLS side with --keylog equal those of the relay's
#     clear side, but for addresses, ports and times (and the line naming
#     TLS version and suite);
#   - keys_inside.pcapng (keys in a Decryption Secrets Block) needs no
#     --keylog;
#   - without keys, the connection is one line naming what is missing;
#   - where tshark is at hand: the bytes it decrypts with the same key log
#     (`-z follow,tls,yaml`, the direction taken from each chunk's frame)
#     equal the clear side's bytes, direction by direction.
# usage: check_tls_captures.py DSSVIEW DATADIR
import base64
import os
import re
import shutil
import struct
import subprocess
import sys

VARIANTS = ["tls13_aes128gcm", "tls13_aes256gcm", "tls13_chacha20",
            "tls12_aes128gcm", "tls12_aes256gcm", "tls12_chacha20"]
SUITES = {"tls13_aes128gcm": "TLS 1.3, TLS_AES_128_GCM_SHA256", "tls13_aes256gcm": "TLS 1.3, TLS_AES_256_GCM_SHA384",
          "tls13_chacha20": "TLS 1.3, TLS_CHACHA20_POLY1305_SHA256",
          "tls12_aes128gcm": "TLS 1.2, TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256",
          "tls12_aes256gcm": "TLS 1.2, TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384",
          "tls12_chacha20": "TLS 1.2, TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256"}
failures = []


def run(*args):
    r = subprocess.run(list(args), capture_output=True, env=dict(os.environ, TZ="UTC", LC_ALL="C"), timeout=120)
    return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")


def normal(text):
    text = re.sub(r"127\.0\.0\.1:\d+", "ADDR", text)
    text = re.sub(r"^pcap(ng)? capture[^\n]*", "CAPTURE", text)
    text = re.sub(r'"(ts|first_reply_ms|last_reply_ms|server_ms)":[0-9.]+', r'"\1":T', text)
    text = re.sub(r"\ttime  [0-9: .-]+", "\ttime  T", text)
    # The line naming TLS version and suite, set apart by an empty line.
    text = re.sub(r"CONNECTION 1: TLS [^\n]*\n\n", "", text)
    # The relay ends its two sides in its own order.
    text = re.sub(r"\n*CONNECTION 1: closed by the [a-z]+ \((FIN|RST)\)\n\n", "", text)
    return text


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what)


def tshark_streams(pcap, keylog, port):
    """Decrypted (or, without keylog, TCP) bytes of the first stream, by direction."""
    frames = {}
    _, out, _ = run("tshark", "-r", pcap, "-T", "fields", "-e", "frame.number", "-e", "tcp.srcport")
    for line in out.splitlines():
        f = line.split("\t")
        if len(f) == 2 and f[1]:
            frames[int(f[0])] = int(f[1])
    args = ["tshark", "-r", pcap, "-q"]
    if keylog:
        args += ["-o", "tls.keylog_file:" + keylog, "-z", "follow,tls,yaml,0"]
    else:
        args += ["-z", "follow,tcp,yaml,0"]
    _, out, _ = run(*args)
    streams = {"client": b"", "server": b""}
    for m in re.finditer(r"packet: (\d+)\n.*?data: !!binary \|\n((?:\s+[A-Za-z0-9+/=]+\n)+)", out, re.S):
        side = "server" if frames.get(int(m.group(1))) == port else "client"
        streams[side] += base64.b64decode("".join(m.group(2).split()))
    return streams


def main():
    dssview, data = sys.argv[1], sys.argv[2]
    for name in VARIANTS:
        tls, clear, keys = (os.path.join(data, name + s) for s in (".tls.pcap", ".clear.pcap", ".keylog"))
        for opt in ("-j", "-r"):
            _, a, _ = run(dssview, opt, "--keylog", keys, tls)
            _, b, _ = run(dssview, opt, clear)
            check(len(b) > 1000 and normal(a) == normal(b), "%s %s: the TLS side differs from the clear side" % (name, opt))
        _, text, _ = run(dssview, "--keylog", keys, tls)
        check("CONNECTION 1: %s, decrypted with the keys for client random " % SUITES[name] in text,
              name + ": no line naming version and suite")
        _, summary, _ = run(dssview, "-s", "--keylog", keys, tls)
        check("1 TLS connections: 1 decrypted, 0 without keys" in summary, name + ": -s does not count it")
        if shutil.which("tshark"):
            dec = tshark_streams(tls, keys, 21521)
            plain = tshark_streams(clear, None, 21522)
            check(dec["client"] and dec == plain, name + ": tshark's decrypted bytes differ from the clear side")
    inside = os.path.join(data, "keys_inside.pcapng")
    for opt in ("-j", "-r"):
        _, a, _ = run(dssview, opt, inside)
        _, b, _ = run(dssview, opt, os.path.join(data, VARIANTS[0] + ".clear.pcap"))
        check(normal(a) == normal(b), "keys_inside.pcapng %s differs from the clear side" % opt)
    # Keys after the packets they unlock: a file is read twice, a pipe
    # cannot be (said on standard error; the connection is not decrypted).
    with open(inside, "rb") as f:
        d = f.read()
    blocks, p = [], 0
    while p + 8 <= len(d):
        n = struct.unpack("<I", d[p + 4:p + 8])[0]
        blocks.append(d[p:p + n])
        p += n
    secrets = [b for b in blocks if b[:4] == b"\x0a\x00\x00\x00"]
    late = os.path.join(os.environ.get("TMPDIR", "/tmp"), "dssview-late-%d.pcapng" % os.getpid())
    with open(late, "wb") as f:
        f.write(b"".join(b for b in blocks if b not in secrets) + b"".join(secrets))
    _, a, err = run(dssview, "-j", late)
    check(len(secrets) == 1 and normal(a) == normal(run(dssview, "-j", inside)[1]) and err == "",
          "keys after the packets: the file is not read for them first")
    r = subprocess.run("cat '%s' | '%s' -r -" % (late, dssview), shell=True, capture_output=True,
                       env=dict(os.environ, TZ="UTC"), timeout=60)
    os.remove(late)
    check(b"TLS keys in the capture after packets" in r.stderr and b"decrypted with" not in r.stdout,
          "keys after the packets in a pipe: not reported")
    # Wrong keys: every record is reported with its place, nothing decoded.
    wrong = os.path.join(os.environ.get("TMPDIR", "/tmp"), "dssview-wrong-%d.keylog" % os.getpid())
    with open(os.path.join(data, "tls12_aes128gcm.keylog")) as f, open(wrong, "w") as g:
        for line in f:
            if line.startswith("CLIENT_RANDOM"):
                line = line.rstrip("\n")
                line = line[:-1] + ("1" if line[-1] == "0" else "0") + "\n"
            g.write(line)
    rc, text, _ = run(dssview, "--keylog", wrong, os.path.join(data, "tls12_aes128gcm.tls.pcap"))
    os.remove(wrong)
    check(rc == 0 and "TLS record 4 of the client (at byte " in text and "does not authenticate" in text
          and "\tbytes " not in text, "wrong keys: not reported as bad records")
    print("%d variants checked, %d failures" % (len(VARIANTS), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
