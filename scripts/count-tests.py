#!/usr/bin/env python3
"""Size of the tests against the size of the code they test.

Counts non-blank lines of C/C++, Python and shell under tests/ against
non-blank C/C++ lines of the code folders, and prints both and the ratio on
one line. Case files, scenario JSON and GenICam descriptions are data and are
not counted. A file without a known extension counts as script when its first
line names sh, bash or python.
"""
import os
import sys

CODE_DIRS = ["module", "camera", "genapi", "hostdata", "contracts", "include", "tools"]
CXX = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inl", ".ipp")
SCRIPT = (".py", ".sh", ".bash")


def is_script(path):
    if path.endswith(SCRIPT):
        return True
    if "." in os.path.basename(path):
        return False
    try:
        with open(path, "rb") as f:
            first = f.readline(200)
    except OSError:
        return False
    return first.startswith(b"#!") and any(w in first for w in (b"sh", b"python"))


def count(root, accept):
    total = 0
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith(".") and d != "__pycache__"]
        for name in files:
            path = os.path.join(folder, name)
            if not accept(path):
                continue
            with open(path, "rb") as f:
                total += sum(1 for line in f if line.strip())
    return total


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if len(sys.argv) > 1:
        repo = sys.argv[1]
    tests = count(os.path.join(repo, "tests"), lambda p: p.endswith(CXX) or is_script(p))
    code = sum(count(os.path.join(repo, d), lambda p: p.endswith(CXX)) for d in CODE_DIRS)
    ratio = tests / code if code else 0.0
    print(f"test lines {tests}, code lines {code}, ratio {ratio:.2f}")


if __name__ == "__main__":
    main()
