#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Runs `dssview -j` on each trace given and checks every line of its output
with Python's strict JSON parser: one object per line, no duplicate keys,
exactly the keys of an exchange in their order, and the type of each value.

    json_lines_check.py DSSVIEW TRACE...
"""
import json
import os
import subprocess
import sys

KEYS = ["ts", "conn", "client", "server", "corr", "command", "sql", "replies", "svrcod",
        "sqlcode", "sqlstate", "tokens", "rows", "updated", "first_reply_ms", "last_reply_ms",
        "bytes_out", "bytes_in", "record", "reply_record", "server_ms", "chain", "user"]
NUMBER = (int, float)
TYPES = {
    "ts": NUMBER, "conn": int, "client": str, "server": str, "corr": int, "command": str,
    "sql": str, "replies": list, "svrcod": int, "sqlcode": int, "sqlstate": str, "tokens": list,
    "rows": int, "updated": int, "first_reply_ms": NUMBER, "last_reply_ms": NUMBER,
    "bytes_out": int, "bytes_in": int, "record": int, "reply_record": int,
    "server_ms": NUMBER, "chain": int, "user": str,
}
NEVER_NULL = {"corr", "replies", "tokens", "bytes_out", "bytes_in"}


def no_duplicates(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key in %r" % keys)
    return dict(pairs)


def reject_constant(name):
    raise ValueError("not JSON: %s" % name)


def check(dssview, trace):
    run = subprocess.run([dssview, "-j", trace], capture_output=True,
                         env=dict(os.environ, TZ="UTC"))
    if run.returncode != 0:
        return "%s: status %d" % (trace, run.returncode)
    text = run.stdout.decode("utf-8")  # raises on bytes that are not UTF-8
    lines = text.split("\n")
    if lines[-1] != "":
        return "%s: output does not end with a newline" % trace
    count = 0
    for n, line in enumerate(lines[:-1], 1):
        obj = json.loads(line, object_pairs_hook=no_duplicates, parse_constant=reject_constant)
        if not isinstance(obj, dict) or list(obj) != KEYS:
            return "%s line %d: keys %r" % (trace, n, list(obj) if isinstance(obj, dict) else obj)
        for key, value in obj.items():
            if value is None and key not in NEVER_NULL:
                continue
            if isinstance(value, bool) or not isinstance(value, TYPES[key]):
                return "%s line %d: %s = %r" % (trace, n, key, value)
        if not all(isinstance(t, str) for t in obj["replies"] + obj["tokens"]):
            return "%s line %d: names and tokens must be strings" % (trace, n)
        count += 1
    if count == 0:
        return "%s: no exchange" % trace
    print("%s: %d lines" % (os.path.basename(trace), count))
    return None


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    failures = [f for f in (check(sys.argv[1], t) for t in sys.argv[2:]) if f]
    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
