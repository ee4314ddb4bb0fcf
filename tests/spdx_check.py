#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Fails when a source, script or build file of ours lacks its licence line.

    spdx_check.py SOURCE_DIR      check the tree; exit 1 and name each file
    spdx_check.py --self-test     check that a file without the line is caught

Files of ours are C++ (.cpp, .h, .h.in), CMake (CMakeLists.txt, .cmake),
Python (.py), shell (.sh) and extensionless scripts that start with "#!".
Test data, goldens, captured traffic and build trees are not ours to mark.
The line must be among the first three lines of the file.
"""
import os
import sys
import tempfile

LINE = "SPDX-License-Identifier: Apache-2.0"
SKIP_DIRS = {".git", "build", "corpus", "data", "examples", "__pycache__"}
SUFFIXES = (".cpp", ".h", ".h.in", ".cmake", ".py", ".sh")


def is_ours(path):
    name = os.path.basename(path)
    if name == "CMakeLists.txt" or name.endswith(SUFFIXES):
        return True
    if "." in name:
        return False
    try:
        with open(path, "rb") as f:
            return f.read(2) == b"#!"
    except OSError:
        return False


def missing(top):
    bad = []
    for root, dirs, files in os.walk(top):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.startswith("build"))
        for name in sorted(files):
            path = os.path.join(root, name)
            if not is_ours(path):
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                head = [f.readline() for _ in range(3)]
            if not any(LINE in line for line in head):
                bad.append(os.path.relpath(path, top))
    return bad


def self_test():
    with tempfile.TemporaryDirectory() as top:
        files = {
            "good.cpp": "// " + LINE + "\nint x;\n",
            "run": "#!/bin/sh\n# " + LINE + "\n",
            "data/skipped.cpp": "int y;\n",
            "README.md": "text\n",
            "bad.py": "print(1)\n",
            "sub/bad_script": "#!/bin/sh\necho\n",
        }
        for rel, text in files.items():
            path = os.path.join(top, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        got = missing(top)
        want = ["bad.py", os.path.join("sub", "bad_script")]
        if got != want:
            print("self-test: expected", want, "got", got)
            return 1
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    bad = missing(argv[1])
    for path in bad:
        print(f"{path}: no '{LINE}' line in its first three lines")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
