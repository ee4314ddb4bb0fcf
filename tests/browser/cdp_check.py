# SPDX-License-Identifier: Apache-2.0
"""The --html pages in headless Chromium, driven over the DevTools protocol
on a pipe (--remote-debugging-pipe: messages as JSON, each ended by a NUL
byte, on the browser's descriptors 3 and 4), with the standard library only.
Used by tests/html_check.py --browser."""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe", "--window-size=1280,900"]


def find_browser():
    for name in ("chromium", "chromium-headless-shell", "/usr/lib/chromium/chromium-headless-shell",
                 "/usr/lib/chromium/headless_shell"):
        path = shutil.which(name) or (name if os.path.isfile(name) and os.access(name, os.X_OK) else None)
        if path:
            return path
    return None


class Browser:
    def __init__(self, exe):
        self.profile = tempfile.mkdtemp(prefix="dssview-chromium-")
        to_r, to_w = os.pipe()
        from_r, from_w = os.pipe()
        # The browser reads commands on 3 and writes answers on 4.
        self.proc = subprocess.Popen(
            [exe] + FLAGS + ["--user-data-dir=" + self.profile, "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(3, 4), preexec_fn=lambda: (os.dup2(to_r, 3), os.dup2(from_w, 4)))
        os.close(to_r)
        os.close(from_w)
        self.w, self.r = to_w, from_r
        self.buf = b""
        self.next_id = 0
        self.events = []

    def close(self):
        try:
            self.send("Browser.close")
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        os.close(self.w)
        os.close(self.r)
        shutil.rmtree(self.profile, ignore_errors=True)

    def _read(self, deadline):
        while b"\0" not in self.buf:
            if time.time() > deadline:
                raise TimeoutError("no answer from the browser")
            chunk = os.read(self.r, 1 << 16)
            if not chunk:
                raise EOFError("the browser ended")
            self.buf += chunk
        msg, self.buf = self.buf.split(b"\0", 1)
        return json.loads(msg)

    def send(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        os.write(self.w, json.dumps(msg).encode() + b"\0")
        deadline = time.time() + timeout
        while True:
            m = self._read(deadline)
            if m.get("id") == self.next_id:
                if "error" in m:
                    raise RuntimeError("%s: %s" % (method, m["error"]))
                return m.get("result", {})
            self.events.append(m)

    def wait_event(self, method, session, timeout=30):
        deadline = time.time() + timeout
        while True:
            for i, m in enumerate(self.events):
                if m.get("method") == method and m.get("sessionId") == session:
                    return self.events.pop(i)
            self.events.append(self._read(deadline))


class Tab:
    def __init__(self, browser):
        self.b = browser
        target = browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.s = browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(domain + ".enable")
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})

    def call(self, method, params=None):
        return self.b.send(method, params, self.s)

    def load(self, url):
        self.b.events.clear()
        self.call("Page.navigate", {"url": url})
        self.b.wait_event("Page.loadEventFired", self.s)

    def eval(self, expr):
        r = self.call("Runtime.evaluate", {"expression": expr, "returnByValue": True})
        if "exceptionDetails" in r:
            raise RuntimeError("%s: %s" % (expr, r["exceptionDetails"]))
        return r["result"].get("value")

    def problems(self, url):
        """Console errors, exceptions, failed and outside requests seen since the load."""
        bad = []
        for m in self.b.events:
            if m.get("sessionId") != self.s:
                continue
            method, p = m.get("method"), m.get("params", {})
            if method == "Runtime.exceptionThrown":
                bad.append("exception: %s" % p["exceptionDetails"].get("text"))
            elif method == "Runtime.consoleAPICalled" and p.get("type") in ("error", "assert"):
                bad.append("console: %s" % p.get("args"))
            elif method == "Log.entryAdded" and p["entry"].get("level") == "error":
                bad.append("log: %s" % p["entry"].get("text"))
            elif method == "Network.loadingFailed":
                bad.append("failed request: %s" % p.get("errorText"))
            elif method == "Network.requestWillBeSent" and p["request"]["url"] != url:
                bad.append("request: %s" % p["request"]["url"])
        return bad


SHAPE_SORT = """(function(){
var t=document.getElementById('shapes-table');var th=t.tHead.rows[0].cells[0];
var col=function(){return Array.prototype.map.call(t.tBodies[0].rows,function(r){return parseFloat(r.cells[0].getAttribute('data-sort'));});};
th.click();var up=col();th.click();var down=col();
var sorted=function(v,d){for(var i=1;i<v.length;i++){if(d*(v[i]-v[i-1])<0)return false;}return true;};
return {up:sorted(up,1),down:sorted(down,-1),n:up.length,aria:th.getAttribute('aria-sort')};})()"""

EVIDENCE = """(function(c,r){var d=document.querySelector('details[data-conn="'+c+'"][data-record="'+r+'"]');
if(!d||!d.id)return null;var a=document.getElementById(d.id);return a?a.textContent:null;})(%d,%d)"""


def main(dssview, outdir, todo, check_structure, expected, intl_problem):
    exe = find_browser()
    if not exe:
        print("SKIP: no Chromium installed")
        return 77
    b = Browser(exe)
    shots = 0
    try:
        tab = Tab(b)
        for capture, hostile in todo:
            out = os.path.join(outdir, os.path.basename(capture) + ".browser.html")
            exp = check_structure(dssview, capture, out, hostile)
            url = "file://" + os.path.abspath(out)
            tab.load(url)
            time.sleep(0.1)
            bad = tab.problems(url)
            if bad:
                print("FAIL: %s: %s" % (out, bad[:5]))
                return 1
            counts = tab.eval("[document.querySelectorAll('#timeline-svg rect.m').length,"
                              "document.querySelectorAll('#errors-table tbody tr').length,"
                              "document.querySelectorAll('#shapes-table tbody tr').length]")
            if counts != [exp["marks"], exp["errors"], exp["shapes"]]:
                print("FAIL: %s: marks, errors, shapes %r; -s says %r" %
                      (out, counts, [exp["marks"], exp["errors"], exp["shapes"]]))
                return 1
            for conn, record in exp["failed"]:
                text = tab.eval(EVIDENCE % (conn, record))
                if text is None or ("\n%d\t" % record) not in ("\n" + text):
                    print("FAIL: %s: the evidence of record %d is missing or lacks it" % (out, record))
                    return 1
            if hostile == "intl":
                # The DOM text, with the evidence unfolded: characters, no escapes.
                shown = tab.eval("document.querySelectorAll('details').forEach(function(d){d.open=true;}),"
                                 "document.body.innerText")
                bad = intl_problem(shown)
                if bad:
                    print("FAIL: %s: %s" % (out, bad))
                    return 1
                hostile = False
            if hostile and tab.eval("typeof window.__pwned") != "undefined":
                print("FAIL: %s: the input's script ran" % out)
                return 1
            if hostile:
                shown = tab.eval("document.body.innerText")
                if "<img src=x onerror=__pwned=1>" not in shown or "<script>window.__pwned=2</script>" not in shown:
                    print("FAIL: %s: the hostile text does not show literally" % out)
                    return 1
            if exp["shapes"] > 1:
                r = tab.eval(SHAPE_SORT)
                if not (r["up"] and r["down"]):
                    print("FAIL: %s: a click on the execs column does not sort: %r" % (out, r))
                    return 1
                tab.load(url)
            if os.path.basename(capture) in ("s06_errors.pcap", "many.pcap"):
                png = tab.call("Page.captureScreenshot", {"format": "png"})["data"]
                path = os.path.join(outdir, os.path.basename(capture) + ".png")
                with open(path, "wb") as f:
                    f.write(base64.b64decode(png))
                shots += 1
            print("ok %s: %d marks, %d errors, %d shapes, %d failed exchanges with evidence" %
                  (out, exp["marks"], exp["errors"], exp["shapes"], len(exp["failed"])))
    finally:
        b.close()
    print("screenshots: %d in %s" % (shots, outdir))
    return 0
