#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The same conversations one at a time and all at once give the same
answer: bench/make_capture.py replays the same connections (each on its own
client port) whatever --parallel is, so every connection's `-j` lines must
be equal but for what depends on the other connections (its number, the
record numbers, which count every connection's records) and the time
stamp, and `-s` must count the same exchanges, failures, rows and bytes,
with nothing shown early and nothing uncounted.

    concurrency_check.py DSSVIEW MAKE_CAPTURE WORK_DIR
"""
import collections
import json
import os
import subprocess
import sys

GLOBAL_FIELDS = ("ts", "conn", "record", "reply_record")
OVERVIEW_FIGURES = ("connections", "exchanges", "failed", "rows read", "rows changed", "bytes sent",
                    "bytes received")


def run(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("%s %s: status %d\n%s" % (tool, " ".join(args), done.returncode, done.stderr))
    return done.stdout


def exchanges_by_client(tool, capture):
    by = collections.defaultdict(list)
    for line in run(tool, "-j", capture).splitlines():
        e = json.loads(line)
        for field in GLOBAL_FIELDS:
            del e[field]
        by[e["client"]].append(e)
    return by


def overview(tool, capture):
    lines = run(tool, "-s", capture).splitlines()
    figures = {}
    for line in lines[1:lines.index("")]:
        name, _, value = line.partition("  ")
        figures[name.strip()] = value.strip()
    return figures


def main():
    tool, make_capture, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    captures = {}
    for parallel in (1, 1000):
        path = os.path.join(work, "parallel-%d.pcap" % parallel)
        subprocess.run([sys.executable, make_capture, path, "--mib", "4", "--parallel", str(parallel)],
                       check=True, capture_output=True)
        captures[parallel] = path
    failures = []

    one, many = (exchanges_by_client(tool, captures[p]) for p in (1, 1000))
    if len(one) < 40:
        failures.append("only %d connections in the capture" % len(one))
    if sorted(one) != sorted(many):
        failures.append("connections differ: %s" % sorted(set(one) ^ set(many))[:5])
    for client in sorted(one):
        a, b = one[client], many.get(client, [])
        if a == b:
            continue
        at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
        failures.append("%s: %d exchanges one at a time, %d all at once; first difference at %d:\n  %s\n  %s" %
                        (client, len(a), len(b), at, a[at] if at < len(a) else "-", b[at] if at < len(b) else "-"))

    first, second = (overview(tool, captures[p]) for p in (1, 1000))
    for name in OVERVIEW_FIGURES:
        if first.get(name) != second.get(name):
            failures.append("overview %r: %r one at a time, %r all at once" % (name, first.get(name), second.get(name)))
    for figures, label in ((first, "one at a time"), (second, "all at once")):
        for note in ("shown early", "rows not counted", "unreadable"):
            if note in figures:
                failures.append("%s: %s %s" % (label, note, figures[note]))

    for f in failures[:20]:
        print("FAIL", f)
    print("%d connections, %d exchanges compared" % (len(one), sum(map(len, one.values()))))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
