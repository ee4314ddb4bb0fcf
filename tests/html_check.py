#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the --html page against the -s and -j output of the same input.

    html_check.py DSSVIEW OUTDIR CAPTURE...          the page, read by a strict parser
    html_check.py --browser DSSVIEW OUTDIR CAPTURE... the page in headless Chromium

OUTDIR receives the pages, a hostile capture (a shared capture whose
statement text and message tokens were overwritten with markup, script,
quotes and control characters, lengths kept), a generated capture of many
connections, and with --browser two screenshots.

Without --browser: every element and attribute of the page is one the tool
writes (nothing taken from the input became markup), the only script is the
tool's own and is the one the Content-Security-Policy names by its hash,
links stay inside the page, and the DOM counts agree with -s and -j:
timeline marks with the exchanges of the connections drawn, error rows and
shape rows with -s, an evidence block holding the records of every failed
exchange of -j.

With --browser: Chromium loads each page from a file URL (CDP over
--remote-debugging-pipe, no network): no console error, no failed or
outside request, the same DOM counts, a click on a shape column sorts the
table, the hostile page runs no script and shows its text literally, the
page of the international conversation shows its names as characters.
Exits 77 when no Chromium is installed.
"""
import base64
import hashlib
import html
import html.parser
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# What the hostile capture holds, each replacing text of the same length.
HOSTILE = [
    (b'Encountered "SELEC" at line 1, column 1', b"<img src=x onerror=__pwned=1>'\"\x01\x7f<b>"),
    (b"SELEC * FROM parent", b"</script><i>'\"\x07&amp"),
    (b"NO_SUCH_TABLE", b"<svg onload=1"),
    (b"CREATE TABLE parent (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(5) NOT NULL)",
     b"<script>window.__pwned=2</script><a href=javascript:__pwned=3>x</a>\x1b\"'&lt;--"),
]

TAGS = {"html", "head", "meta", "title", "style", "body", "header", "h1", "p", "nav", "a", "main", "section",
        "h2", "h3", "div", "b", "span", "dl", "dt", "dd", "table", "thead", "tbody", "tr", "th", "td", "input",
        "svg", "line", "text", "rect", "details", "summary", "pre", "code", "footer", "i", "br", "script"}
# What the page of the international conversation (tests/data/intl) shows
# as characters, in the text of its tables, tooltips and evidence.
INTL_SHOWN = ["Jürgen Żółkiewski", "Straße", "Województwo", "Πελάτες", "顧客", "Müllabfuhr"]
INTL = os.path.join(ROOT, "tests/data/intl/intl.pcap")


def intl_problem(shown):
    """Why the text shown of the international page is wrong, or None."""
    missing = [n for n in INTL_SHOWN if n not in shown]
    if missing:
        return "does not show %r" % missing
    # Escapes of printable characters (control characters, such as the
    # token separator 0x14 of the messages, stay escapes).
    m = re.search(r"[\s\S]{0,40}\\(x[A-Fa-f]|u00[A-Fa-f]|u(?!00)[0-9A-Fa-f]{2}|U)[\s\S]{0,10}", shown)
    if m:
        return "shows an escape: %r" % m.group(0)
    return None


ATTRS = {"lang", "charset", "http-equiv", "content", "name", "href", "class", "id", "data-sort", "data-table",
         "data-conn", "data-record", "data-records", "data-marks", "type", "placeholder", "hidden", "viewbox",
         "width", "height", "x", "y", "x1", "x2", "y1", "y2", "role", "style", "stroke-dasharray"}


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def make_hostile(src, dst):
    data = open(src, "rb").read()
    for old, new in HOSTILE:
        new = new.ljust(len(old), b" ")
        assert len(new) == len(old), (old, new)
        if old not in data:
            fail("hostile capture: %r not in %s" % (old, src))
        data = data.replace(old, new)
    open(dst, "wb").write(data)


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.elements, self.scripts, self.text = [], [], [], []
        self.details = {}  # id -> (attrs, text)
        self.cur_details = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.elements.append((tag, a, list(self.stack)))
        if tag == "details":
            self.cur_details = a.get("id")
            self.details[self.cur_details] = (a, [])
        if tag not in ("meta", "br", "input", "line"):
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.elements.append((tag, dict(attrs), list(self.stack)))

    def handle_endtag(self, tag):
        if tag == "details":
            self.cur_details = None
        while self.stack:
            if self.stack.pop() == tag:
                break

    def handle_data(self, data):
        if self.stack and self.stack[-1] == "script":
            self.scripts.append(data)
        self.text.append(data)
        if self.cur_details:
            self.details[self.cur_details][1].append(data)


def lane_marks(n, cap=200):
    """Marks a lane of n timed exchanges shows: a regular sample of at most cap."""
    kept, stride = 0, 1
    for i in range(n):
        if i % stride:
            continue
        if kept == cap:
            kept, stride = (kept + 1) // 2, stride * 2
            if i % stride:
                continue
        kept += 1
    return kept


def run(dssview, args):
    p = subprocess.run([dssview] + args, capture_output=True, env=dict(os.environ, TZ="UTC"))
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def expected(dssview, capture):
    """What -s and -j say the page must hold."""
    _, s, _ = run(dssview, ["-s", capture])
    _, j, _ = run(dssview, ["-j", capture])
    exp = {}
    exp["errors"] = int(re.search(r"^Errors: (\d+)$", s, re.M).group(1))
    exp["shapes"] = min(50, int(re.search(r"^Statements by shape: (\d+)$", s, re.M).group(1)))
    # The lanes are the connections of the -s table; their exchanges are the marks.
    conns = s.split("\nConnections: ")[1].split("\n\n")[0].splitlines()
    head = conns[1]
    col = head.index(" exchanges") + len(" exchanges")
    marks = 0
    for line in conns[2:]:
        if " more connections: " in line or not (line[:1].isspace() or line[:1].isdigit()):
            break
        marks += lane_marks(int(line[:col].split()[-1]))
    exp["marks"] = marks
    failed = []
    for line in j.splitlines():
        e = json.loads(line)
        bad = e["reply_record"] is None or (e["sqlcode"] is not None and e["sqlcode"] < 0) or \
            (e["svrcod"] is not None and e["svrcod"] >= 8)
        if bad:
            failed.append((e["conn"] or 1, e["record"] if e["record"] is not None else e["reply_record"]))
    exp["failed"] = failed[:200]
    return exp


def write_page(dssview, capture, out):
    rc, stdout, err = run(dssview, ["--html", out, capture])
    if rc != 0:
        fail("%s: status %d: %s" % (capture, rc, err))
    if stdout:
        fail("%s: --html alone wrote to standard output" % capture)
    return open(out, encoding="utf-8").read()


def check_structure(dssview, capture, out, hostile):
    text = write_page(dssview, capture, out)
    if len(text.encode()) >= 20 << 20:
        fail("%s: page of %d bytes" % (capture, len(text.encode())))
    p = Page()
    p.feed(text)
    p.close()
    for tag, attrs, _ in p.elements:
        if tag not in TAGS:
            fail("%s: element <%s> is not one the tool writes" % (out, tag))
        for name, value in attrs.items():
            if name not in ATTRS:
                fail("%s: attribute %s=%r on <%s>" % (out, name, value, tag))
            if name == "href" and not value.startswith("#"):
                fail("%s: link outside the page: %r" % (out, value))
    if [t for t, _, _ in p.elements].count("script") != 1:
        fail("%s: more than the tool's own script" % out)
    script = "".join(p.scripts)
    digest = base64.b64encode(hashlib.sha256(script.encode()).digest()).decode()
    csp = [a["content"] for t, a, _ in p.elements if t == "meta" and a.get("http-equiv") == "Content-Security-Policy"]
    if not csp or ("'sha256-%s'" % digest) not in csp[0]:
        fail("%s: the Content-Security-Policy does not name the script's hash %s" % (out, digest))
    exp = expected(dssview, capture)
    marks = [a for t, a, _ in p.elements if t == "rect" and "m" in a.get("class", "").split()]
    got = count_rows(text)
    if len(marks) != exp["marks"]:
        fail("%s: %d timeline marks, -s says %d" % (out, len(marks), exp["marks"]))
    if got.get("errors-table") != exp["errors"] or got.get("shapes-table") != exp["shapes"]:
        fail("%s: rows %r, -s says errors %d shapes %d" % (out, got, exp["errors"], exp["shapes"]))
    by_record = {(a.get("data-conn"), a.get("data-record")): i for i, (a, _) in p.details.items()}
    for conn, record in exp["failed"]:
        key = (str(conn), str(record))
        if key not in by_record:
            fail("%s: no evidence block for the failed exchange at record %s" % (out, record))
        body = "".join(p.details[by_record[key]][1])
        if not re.search(r"(^|\n)%d\t" % record, body):
            fail("%s: the evidence of record %s does not hold it" % (out, record))
    if hostile == "intl":
        bad = intl_problem("".join(p.text) + " ".join(a.get("title", "") for _, a, _ in p.elements))
        if bad:
            fail("%s: %s" % (out, bad))
    elif hostile:
        shown = "".join(p.text)
        for _, new in HOSTILE:
            literal = re.sub(r"[\x00-\x1f\x7f]", "", new.decode()).strip()
            if literal.split("\"")[0] not in shown:
                fail("%s: %r does not show literally" % (out, literal))
    return exp


def count_rows(text):
    """Rows of each table's body, by the table's id."""
    got = {}
    for m in re.finditer(r'<table class="sortable" id="([a-z-]+)">(.*?)</table>', text, re.S):
        body = m.group(2).split("<tbody>", 1)[1]
        got[m.group(1)] = body.count("<tr>")
    return got


def inputs(outdir, captures):
    hostile = os.path.join(outdir, "hostile.pcap")
    make_hostile(os.path.join(ROOT, "tests/data/captures/s06_errors.pcap"), hostile)
    many = os.path.join(outdir, "many.pcap")
    if not os.path.exists(many):
        subprocess.run([sys.executable, os.path.join(ROOT, "bench/make_capture.py"), "--mib", "2", "--parallel",
                        "80", many], check=True, capture_output=True)
    return [(c, False) for c in captures] + [(many, False), (hostile, True), (INTL, "intl")]


def main():
    args = sys.argv[1:]
    browser = args and args[0] == "--browser"
    if browser:
        args = args[1:]
    dssview, outdir, captures = args[0], args[1], args[2:]
    os.makedirs(outdir, exist_ok=True)
    todo = inputs(outdir, captures)
    if browser:
        sys.path.insert(0, os.path.join(HERE, "browser"))
        import cdp_check
        return cdp_check.main(dssview, outdir, todo, check_structure, expected, intl_problem)
    for capture, hostile in todo:
        out = os.path.join(outdir, os.path.basename(capture) + ".html")
        check_structure(dssview, capture, out, hostile)
        print("ok %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
