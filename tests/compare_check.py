#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""--compare on real runs of one workload against a Derby Network Server
(tests/data/compare, made by tests/compare/make_captures.sh).

    tests/compare_check.py DSSVIEW DATADIR WORKDIR

base1 and base2 are the base version run twice, new the changed version.
Checks that the designed changes get their labels and nothing else is
flagged, that twin runs and an input against itself flag nothing, the
errors and the exit statuses of --fail-on, shapes and errors in one run
only, an empty run, runs of different lengths, the text's parts in order,
the page, and the command-line errors.
"""
import json
import os
import subprocess
import sys

BIN, DATA, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
CMP = os.path.join(DATA, "compare")
BASE1, BASE2, NEW = (os.path.join(CMP, n + ".pcap") for n in ("base1", "base2", "new"))
failures = []

LOOKUP = "SELECT id, name FROM items WHERE code = ?"     # its index dropped
SCAN = "SELECT id, label FROM events WHERE kind = ?"     # an index added
ADDED = "SELECT COUNT(*) FROM notes WHERE id < ?"
REMOVED = "SELECT MAX(id) FROM notes"
FETCHED = "SELECT id, code, name FROM items WHERE id < ?"  # fetch size 50 -> 400


def check(cond, what):
    if not cond:
        failures.append(what)


def run(*args):
    p = subprocess.run([BIN, *args], capture_output=True, env=dict(os.environ, TZ="UTC", LC_ALL="C"), timeout=120)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def lines(base, new, *options):
    args = (base, new, *options)
    rc, out, err = run("-j", *options, "--compare", base, new)
    check(rc in (0, 3), f"{args}: status {rc}: {err}")
    objs = [json.loads(l) for l in out.splitlines()]
    for o in objs:
        check(next(iter(o)) == "kind", f"{args}: kind not first: {o}")
    return rc, objs


def shapes(objs):
    return {o["shape"]: o for o in objs if o["kind"] == "shape"}


def flagged(objs):
    return {o["shape"]: o["label"] for o in objs if o["kind"] == "shape" and o["label"] != "SAME"}


# The designed changes, and nothing else.
_, objs = lines(BASE1, NEW)
check(flagged(objs) == {LOOKUP: "SLOWER", SCAN: "FASTER", ADDED: "NEW", REMOVED: "GONE"},
      f"base1/new labels: {flagged(objs)}")
errors = {(o["error"], o["sqlstate"]): o for o in objs if o["kind"] == "error"}
check({k: o["label"] for k, o in errors.items()} == {("-20001", "23505"): "NEW", ("-20001", "22001"): "GONE"},
      f"base1/new errors: {errors}")
check(not [o for o in objs if o["kind"] == "connection"], "base1/new: a connection fact changed")
s = shapes(objs)
# The fetch size: fewer exchanges for the same executions and rows, SAME.
fetched = s[FETCHED]
check(fetched["label"] == "SAME" and fetched["before"]["executions"] == fetched["after"]["executions"] == 6
      and fetched["before"]["rows"] == fetched["after"]["rows"] == 12000, f"fetch size: {fetched}")
ov = objs[0]
check(ov["kind"] == "overview" and ov["base"]["exchanges"] > ov["new"]["exchanges"]
      and ov["base"]["executions"] == ov["new"]["executions"], f"overview: {ov}")
# Executions as the workload makes them: 20 of each statement of the loop.
for shape in (LOOKUP, SCAN, "SELECT name FROM items WHERE id = ?", "UPDATE items SET name = ? WHERE id = ?"):
    check(s[shape]["before"]["executions"] == s[shape]["after"]["executions"] == 20, f"executions of {shape}: {s[shape]}")
check(s[ADDED]["before"]["executions"] == 0 and s[ADDED]["ratio"] is None, f"NEW shape: {s[ADDED]}")
check(s[REMOVED]["after"]["executions"] == 0 and s[REMOVED]["impact_ms"] < 0, f"GONE shape: {s[REMOVED]}")
order = [o["label"] for o in objs if o["kind"] == "shape"]
check(order[:4] == ["SLOWER", "FASTER", "NEW", "GONE"] and set(order[4:]) == {"SAME"}, f"order: {order}")

# Twin runs and an input against itself: nothing flagged; itself: ratios 1.
for a, b in ((BASE1, BASE2), (BASE2, BASE1), (BASE1, BASE1), (NEW, NEW)):
    rc, objs = lines(a, b, "--fail-on", "slower,new-error,new,gone")
    check(rc == 0 and not flagged(objs), f"{a} {b}: status {rc}, flagged {flagged(objs)}")
    check(all(o["label"] == "SAME" for o in objs if o["kind"] == "error"), f"{a} {b}: errors changed")
    if a == b:
        check(objs[0]["common_factor"] == 1 and all(o["ratio"] == 1 for o in shapes(objs).values()),
              f"{a} against itself: {objs[0]}")

# --fail-on: 3 for each change found, 0 for one not found or without it.
for change, want in (("slower", 3), ("new-error", 3), ("new", 3), ("gone", 3), ("gone,new", 3)):
    rc, _, err = run("--compare", BASE1, NEW, "--fail-on", change)
    check(rc == want, f"--fail-on {change}: {rc} {err}")
rc, _, _ = run("--compare", NEW, BASE1, "--fail-on", "slower")  # the other way round it is FASTER
check(rc == 3, f"reversed --fail-on slower: {rc}")
rc, _, _ = run("--compare", NEW, BASE1, "--fail-on", "new-error")  # 22001 is new that way
check(rc == 3, f"reversed --fail-on new-error: {rc}")
rc, _, _ = run("--compare", BASE1, NEW)
check(rc == 0, f"without --fail-on: {rc}")
# A threshold above the lookup's ratio leaves it SAME.
_, objs = lines(BASE1, NEW, "--threshold", "50")
check(set(flagged(objs).values()) == {"NEW", "GONE"}, f"--threshold 50: {flagged(objs)}")

# An empty run: every shape NEW, every error NEW; and the other way GONE.
empty = os.path.join(WORK, "empty.pcap")
os.makedirs(WORK, exist_ok=True)
with open(empty, "wb") as f:
    f.write(bytes.fromhex("d4c3b2a1020004000000000000000000ffff000001000000"))
_, objs = lines(empty, BASE1)
check(objs[0]["base"]["executions"] == 0 and set(flagged(objs).values()) == {"NEW"}, f"empty base: {objs[0]}")
check(objs[0]["common_factor"] == 1 and objs[0]["factor_shapes"] == 0, f"empty base factor: {objs[0]}")
check({o["label"] for o in objs if o["kind"] == "error"} == {"NEW"}, "empty base: errors")
_, objs = lines(BASE1, empty)
check(set(flagged(objs).values()) == {"GONE"}, f"empty new: {flagged(objs)}")
_, objs = lines(empty, empty)
check(len(objs) == 1, f"two empty runs: {objs}")

# Runs of different lengths: the first half of base2's packets against
# all of base1, both ways: fewer executions, nothing SLOWER or FASTER.
half = os.path.join(WORK, "half.pcap")
with open(BASE2, "rb") as f:
    d = f.read()
p, n = 24, 0
while p + 16 <= len(d):
    p += 16 + int.from_bytes(d[p + 8:p + 12], "little")
    n += 1
    if n == 400:
        break
with open(half, "wb") as f:
    f.write(d[:p])
for a, b in ((half, BASE1), (BASE1, half)):
    _, objs = lines(a, b)
    short = "base" if a == half else "new"
    check(0 < objs[0][short]["executions"] < objs[0]["new" if short == "base" else "base"]["executions"],
          f"different lengths: {objs[0]}")
    check(not set(flagged(objs).values()) & {"SLOWER", "FASTER"}, f"different lengths: {flagged(objs)}")

# The text: its parts in order; the selection is applied to both inputs.
rc, out, err = run("--compare", BASE1, NEW)
parts = ["Overview", "common factor", "Statements that changed: 4 of 9", "SLOWER: 1", "FASTER: 1", "NEW: 1",
         "GONE: 1", "Unchanged: 5 shapes", "Errors that changed: 2 of 2", "Connections that changed: 0"]
at = [out.find(p) for p in parts]
check(-1 not in at and at == sorted(at), f"text parts: {list(zip(parts, at))}")
rc, out, err = run("--compare", BASE1, NEW, "--sql", "items WHERE code")
# One shape: too few for a common factor, which would be its own ratio.
check(rc == 0 and "Statements that changed: 1 of 1" in out and "SLOWER: 1" in out and "too few" in out,
      f"--sql on both: {out}")

# The page: the same parts, both histograms of each flagged shape.
page = os.path.join(WORK, "compare.html")
rc, out, err = run("--compare", BASE1, NEW, "--html", page)
with open(page, encoding="utf-8") as f:
    html = f.read()
check(rc == 0 and out == "", f"--html alone: {rc} {out[:200]}")
check(html.count("<svg") == 2 and html.count('class="ebar"') > 0 and html.count('class="bar"') > 0,
      "page histograms")
check("SELECT COUNT(*) FROM notes WHERE id &lt; ?" in html and "23505" in html, "page content")

# Command-line errors: status 1 with the usage text.
for args in (["--compare", BASE1], ["--compare", BASE1, NEW, "-s"], ["--compare", BASE1, NEW, "-f"],
             ["--compare", BASE1, NEW, BASE2], ["--threshold", "2", BASE1], ["--fail-on", "slower", BASE1],
             ["--compare", BASE1, NEW, "--fail-on", "faster"], ["--compare", BASE1, NEW, "--threshold", "1"],
             ["--compare", BASE1, NEW, "--fail-on", "slower,"]):
    rc, out, err = run(*args)
    check(rc == 1 and "Usage" in err, f"{args}: status {rc}")
rc, out, err = run("--compare", BASE1, os.path.join(WORK, "missing.pcap"))
check(rc == 255 and "missing.pcap" in err, f"missing input: {rc} {err}")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
