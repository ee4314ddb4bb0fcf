#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Real encrypted DRDA conversations, from Debian's packages alone: Derby's
# Network Server with `-ssl basic` and a self-signed key store (keytool),
# its own network client (ij) in clear through a small TLS relay (Python's
# ssl, which writes the key log), and tcpdump on the loopback interface
# capturing both the clear side and the TLS side.
#
#   make_derby_tls.py OUTDIR      writes, per variant NAME,
#       NAME.tls.pcap   the TLS side     NAME.clear.pcap  the clear side
#       NAME.keylog     the relay's key log
#   and keys_inside.pcapng: the first TLS 1.3 variant with its keys in a
#   Decryption Secrets Block (editcap --inject-secrets).
#
# Only 127.0.0.1 ports 21520-21529 are used; every step has a time limit.
# Exit status 77 (skipped) when java, derby, tcpdump or editcap are missing.
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

SERVER_PORT = 21521
RELAY_PORT = 21522
JARS = "/usr/share/java"
PASSWORD = "dssview-test"

# name, TLS version, TLS 1.3 suite (OpenSSL name), TLS 1.2 suite (OpenSSL name)
VARIANTS = [
    ("tls13_aes128gcm", "TLSv1_3", "TLS_AES_128_GCM_SHA256", None),
    ("tls13_aes256gcm", "TLSv1_3", "TLS_AES_256_GCM_SHA384", None),
    ("tls13_chacha20", "TLSv1_3", "TLS_CHACHA20_POLY1305_SHA256", None),
    ("tls12_aes128gcm", "TLSv1_2", None, "ECDHE-RSA-AES128-GCM-SHA256"),
    ("tls12_aes256gcm", "TLSv1_2", None, "ECDHE-RSA-AES256-GCM-SHA384"),
    ("tls12_chacha20", "TLSv1_2", None, "ECDHE-RSA-CHACHA20-POLY1305"),
]

SQL = """connect 'jdbc:derby://127.0.0.1:%d/memory:tlsdb;create=true';
create table t (id int primary key, name varchar(40), amount decimal(9,2));
insert into t values (1, 'one', 1.50), (2, 'two', 22.25), (3, 'three', 333.00);
select * from t order by id;
select name from t where id = 9;
insert into t values (1, 'again', 0);
select count(*) from t;
disconnect;
exit;
"""


def need(*tools):
    for t in tools:
        if not shutil.which(t) and not os.path.exists(t):
            print("skipped: %s not found" % t)
            sys.exit(77)


def wait_port(port, seconds):
    end = time.time() + seconds
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.3)
    return False


def relay(listener, make_context, stop):
    """Accepts clear connections and carries them over TLS to the server."""
    listener.settimeout(0.5)
    while not stop.is_set():
        try:
            clear, _ = listener.accept()
        except socket.timeout:
            continue
        ctx = make_context()
        raw = socket.create_connection(("127.0.0.1", SERVER_PORT), timeout=20)
        tls = ctx.wrap_socket(raw, server_hostname="localhost")

        def pump(src, dst):
            try:
                while True:
                    data = src.recv(65536)
                    if not data:
                        break
                    dst.sendall(data)
            except OSError:
                pass
            for s in (dst,):
                try:
                    s.shutdown(socket.SHUT_WR) if s is clear else None
                except OSError:
                    pass

        a = threading.Thread(target=pump, args=(clear, tls), daemon=True)
        b = threading.Thread(target=pump, args=(tls, clear), daemon=True)
        a.start(), b.start()
        a.join(30)
        # The client is done: close the TLS side cleanly, then the clear side.
        try:
            tls.unwrap().close()
        except (OSError, ssl.SSLError):
            tls.close()
        b.join(5)
        clear.close()


def tcpdump(path, port):
    return subprocess.Popen(["tcpdump", "-i", "lo", "--immediate-mode", "-B", "65536", "-U", "-s", "0", "-w", path,
                             "tcp and host 127.0.0.1 and port %d" % port],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    out = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    need("java", "keytool", "tcpdump", "editcap", JARS + "/derbynet.jar", JARS + "/derbyclient.jar")
    if os.geteuid() != 0:
        print("skipped: capturing on lo needs root")
        sys.exit(77)
    os.makedirs(out, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix="dssview-tls-")
    server = None
    try:
        store = os.path.join(tmp, "server.p12")
        subprocess.run(["keytool", "-genkeypair", "-alias", "derby", "-keyalg", "RSA", "-keysize", "2048",
                        "-validity", "3650", "-dname", "CN=localhost", "-storetype", "PKCS12", "-keystore", store,
                        "-storepass", PASSWORD, "-keypass", PASSWORD], check=True, capture_output=True, timeout=60)
        cp = ":".join(JARS + "/" + j for j in ("derby.jar", "derbynet.jar", "derbytools.jar"))
        server = subprocess.Popen(
            ["java", "-Djavax.net.ssl.keyStore=" + store, "-Djavax.net.ssl.keyStorePassword=" + PASSWORD,
             "-Djavax.net.ssl.keyStoreType=PKCS12", "-Dderby.system.home=" + tmp, "-cp", cp,
             "org.apache.derby.drda.NetworkServerControl", "start", "-h", "127.0.0.1", "-p", str(SERVER_PORT),
             "-ssl", "basic"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=tmp)
        if not wait_port(SERVER_PORT, 60):
            print("the Derby server did not start")
            return 1
        sqlfile = os.path.join(tmp, "run.sql")
        with open(sqlfile, "w") as f:
            f.write(SQL % RELAY_PORT)
        client_cp = ":".join(JARS + "/" + j for j in ("derbyclient.jar", "derbytools.jar"))
        for name, version, suite13, suite12 in VARIANTS:
            keylog = os.path.join(out, name + ".keylog")
            if os.path.exists(keylog):
                os.remove(keylog)

            def make_context(version=version, suite12=suite12, keylog=keylog):
                ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                ctx.check_hostname = False
                ctx.verify_mode = ssl.CERT_NONE
                ctx.keylog_filename = keylog
                v = getattr(ssl.TLSVersion, version)
                ctx.minimum_version = ctx.maximum_version = v
                if suite12:
                    ctx.set_ciphers(suite12)
                return ctx

            if suite13:
                # Python cannot choose TLS 1.3 suites; OpenSSL's configuration
                # can, read when the child process starts.
                conf = os.path.join(tmp, "openssl.cnf")
                with open(conf, "w") as f:
                    f.write("openssl_conf = c\n[c]\nssl_conf = s\n[s]\nsystem_default = d\n"
                            "[d]\nCiphersuites = %s\n" % suite13)
                env = dict(os.environ, OPENSSL_CONF=conf)
                r = subprocess.run([sys.executable, __file__, "--one", out, name], env=env, timeout=120)
                if r.returncode != 0:
                    return r.returncode
                continue
            rc = one_variant(out, name, make_context, sqlfile, client_cp)
            if rc:
                return rc
        first = VARIANTS[0][0]
        subprocess.run(["editcap", "--inject-secrets", "tls," + os.path.join(out, first + ".keylog"),
                        os.path.join(out, first + ".tls.pcap"), os.path.join(out, "keys_inside.pcapng")],
                       check=True, timeout=60)
        return 0
    finally:
        if server:
            subprocess.run(["java", "-cp", ":".join(JARS + "/" + j for j in ("derby.jar", "derbynet.jar")),
                            "org.apache.derby.drda.NetworkServerControl", "shutdown", "-h", "127.0.0.1", "-p",
                            str(SERVER_PORT), "-ssl", "basic"], capture_output=True, timeout=60,
                           env=dict(os.environ, _JAVA_OPTIONS="-Djavax.net.ssl.trustStore=" + store +
                                    " -Djavax.net.ssl.trustStorePassword=" + PASSWORD))
            try:
                server.wait(20)
            except subprocess.TimeoutExpired:
                server.kill()
        shutil.rmtree(tmp, ignore_errors=True)


def one_variant(out, name, make_context, sqlfile, client_cp):
    tls_pcap = os.path.join(out, name + ".tls.pcap")
    clear_pcap = os.path.join(out, name + ".clear.pcap")
    dumps = [tcpdump(tls_pcap, SERVER_PORT), tcpdump(clear_pcap, RELAY_PORT)]
    time.sleep(1.5)  # tcpdump is listening
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", RELAY_PORT))
    listener.listen(1)
    stop = threading.Event()
    t = threading.Thread(target=relay, args=(listener, make_context, stop), daemon=True)
    t.start()
    try:
        r = subprocess.run(["java", "-cp", client_cp, "org.apache.derby.tools.ij", sqlfile],
                           capture_output=True, text=True, timeout=90)
        if "ERROR 08" in r.stdout or r.returncode != 0:
            print(name + ": ij failed:\n" + r.stdout + r.stderr)
            return 1
    finally:
        time.sleep(1.0)
        stop.set()
        t.join(10)
        listener.close()
        time.sleep(0.5)
        for d in dumps:
            d.send_signal(signal.SIGINT)
        for d in dumps:
            try:
                d.wait(10)
            except subprocess.TimeoutExpired:
                d.kill()
    print(name + ": captured")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--one":
        out, name = sys.argv[2], sys.argv[3]
        v = [x for x in VARIANTS if x[0] == name][0]
        keylog = os.path.join(out, name + ".keylog")
        if os.path.exists(keylog):
            os.remove(keylog)

        def ctx_factory():
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            ctx.check_hostname = False
            ctx.verify_mode = ssl.CERT_NONE
            ctx.keylog_filename = keylog
            ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1_3
            return ctx

        sqlfile = os.path.join(tempfile.gettempdir(), "dssview-tls-%d.sql" % os.getpid())
        with open(sqlfile, "w") as f:
            f.write(SQL % RELAY_PORT)
        try:
            sys.exit(one_variant(out, name, ctx_factory, sqlfile,
                                 ":".join(JARS + "/" + j for j in ("derbyclient.jar", "derbytools.jar"))))
        finally:
            os.remove(sqlfile)
    sys.exit(main())
