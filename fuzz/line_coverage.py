#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Line coverage of drda/ from a `coverage` preset build.

    cmake --preset coverage && cmake --build --preset coverage -j2
    ctest --preset coverage            # tests, corpus replay included
    fuzz/line_coverage.py build/coverage [--missed]

Runs gcov over the objects of the drda library (and of the test and tool
objects, for the lines of inline headers they use), merges the counts of each
source line across translation units and prints the covered share per file
and in all. --missed also lists the lines never executed.
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    missed_too = "--missed" in sys.argv
    gcdas = []
    for d, _, files in os.walk(build):
        gcdas += [os.path.join(d, f) for f in files if f.endswith(".gcda")]
    if not gcdas:
        sys.exit("no .gcda files under %s: run the tests of the coverage build first" % build)
    lines = {}  # path -> {line number: executed?}
    with tempfile.TemporaryDirectory() as tmp:
        outputs = []
        for i, g in enumerate(gcdas):
            # One directory per object: gcov names its output after the
            # source, so a header used by two objects would be overwritten.
            out = os.path.join(tmp, str(i))
            os.mkdir(out)
            subprocess.run(["gcov", "-p", "-o", os.path.dirname(g), g], cwd=out,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            outputs += [os.path.join(out, n) for n in os.listdir(out) if n.endswith(".gcov")]
        for name in outputs:
            with open(name, errors="replace") as f:
                src = None
                for row in f:
                    parts = row.split(":", 2)
                    if len(parts) < 3:
                        continue
                    count, num = parts[0].strip(), parts[1].strip()
                    if num == "0" and parts[2].startswith("Source:"):
                        src = os.path.normpath(os.path.join(build, parts[2][len("Source:"):].strip()))
                        continue
                    if src is None or not num.isdigit() or count == "-":
                        continue
                    rel = os.path.relpath(src, ROOT)
                    if not rel.startswith("drda" + os.sep):
                        continue
                    hit = not count.startswith("#") and not count.startswith("=")
                    per = lines.setdefault(rel, {})
                    per[int(num)] = per.get(int(num), False) or hit
    total = covered = 0
    for path in sorted(lines):
        per = lines[path]
        n, c = len(per), sum(per.values())
        total += n
        covered += c
        print("%6.1f%%  %5d/%-5d %s" % (100.0 * c / n if n else 100.0, c, n, path))
        if missed_too:
            miss = sorted(k for k, v in per.items() if not v)
            if miss:
                print("         missed: " + ", ".join(map(str, miss)))
    print("%6.1f%%  %5d/%-5d drda/ in all" % (100.0 * covered / total if total else 0.0, covered, total))


if __name__ == "__main__":
    main()
