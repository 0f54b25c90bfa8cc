#!/usr/bin/env python3
"""The size of the tests against the code they test: non-blank, non-comment lines of C++ (and C)
under tests/ against protocol/ sim/ firmware/ zorvane/ tarvel/ kelvard/, and of Python under
tests/python against python/kelvard.

    scripts/test-ratio.py [REPOSITORY]
"""
import os
import re
import subprocess
import sys

CODE = ("protocol/", "sim/", "firmware/", "zorvane/", "tarvel/", "kelvard/")


def lines(path, python):
    text = open(path, encoding="utf-8").read()
    if python:
        text = re.sub(r'^\s*("""|\'\'\')[\s\S]*?\1', "", text, flags=re.M)  # docstrings
        return sum(1 for l in text.splitlines() if l.strip() and not l.strip().startswith("#"))
    text = re.sub(r"/\*[\s\S]*?\*/", "", text)
    return sum(1 for l in text.splitlines() if l.strip() and not l.strip().startswith("//"))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    os.chdir(root)
    files = [f for f in subprocess.run(["git", "ls-files", "--cached", "--others",
                                        "--exclude-standard"], capture_output=True, text=True,
                                       check=True).stdout.split() if os.path.exists(f)]
    cpp = re.compile(r"\.(cpp|h|c)$")
    tests = sum(lines(f, False) for f in files if f.startswith("tests/") and cpp.search(f))
    code = sum(lines(f, False) for f in files if f.startswith(CODE) and cpp.search(f))
    pytests = sum(lines(f, True) for f in files if f.startswith("tests/python/") and f.endswith(".py"))
    pycode = sum(lines(f, True) for f in files if f.startswith("python/kelvard/") and f.endswith(".py"))
    print(f"C++: {tests} test lines / {code} code lines = {tests / code:.2f}")
    print(f"Python: {pytests} test lines / {pycode} code lines = {pytests / max(pycode, 1):.2f}")


if __name__ == "__main__":
    main()
