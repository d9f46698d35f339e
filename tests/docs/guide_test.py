#!/usr/bin/env python3
"""The user's guide (docs/guide.md) against the data it describes, so the two cannot
drift apart: every function's signature against resources/functions.csv, the status
texts against resources/errors.txt, the library's error numbers against the ones the
library words (abffio/errortext.cpp), the example procedures it lists against the
example file, and its links against its headings.

usage: guide_test.py SOURCE_DIR
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import igor  # noqa: E402

IGOR_TYPES = {"4": "Variable", "0x2000": "String", "0x4000": "Wave", "0x1004": "Variable &", "0x3000": "String &"}


def slug(heading):
    """The anchor a heading gets (Python-Markdown's and GitHub's rule for these headings)."""
    return re.sub(r"[-\s]+", "-", re.sub(r"[^\w\s-]", "", heading).strip().lower())


def check(source):
    read = lambda *p: open(os.path.join(source, *p), encoding="utf-8").read()  # noqa: E731
    guide = read("docs", "guide.md")
    problems = []

    # Signatures: one declaration per function, in the table's names and types.
    table = igor.read_function_table(os.path.join(source, "resources", "functions.csv"))
    found = {}
    for m in re.finditer(r"^Function(/S)? (\w+)\((.*)\)$", guide, re.M):
        found.setdefault(m.group(2), []).append((m.group(1), m.group(3)))
    for name, (ret, params) in table.items():
        want = ("/S" if ret == "0x2000" else None,
                ", ".join(IGOR_TYPES[c] + ("" if c in ("0x1004", "0x3000") else " ") + p for p, c in params))
        if found.get(name) != [want]:
            problems.append(f"{name}: the guide declares {found.get(name)}, the table says {[want]}")
        if not re.search(rf"^#+ {name}$", guide, re.M):
            problems.append(f"{name}: no heading")
    problems += [f"{n}: not in the function table" for n in found if n not in table]

    # Status codes: the table's texts are the plug-in's error strings, all of them.
    texts = [l for l in read("resources", "errors.txt").split("\n") if l and not l.startswith("#")]
    rows = dict(re.findall(r"^\| (100\d\d) \| ([^|]*) \|", guide, re.M))
    for n, text in enumerate(texts, 1):
        if rows.pop(str(10000 + n), None) != text:
            problems.append(f"status {10000 + n}: the guide does not give the text {text!r}")
    problems += [f"status {code}: not one of the plug-in's codes" for code in rows]

    # Library error numbers: every number the library has its own text for.
    enum = dict(re.findall(r"(ABF_\w+) = (\d+)", read("interface", "abffio.h")))
    worded = {enum.get(n, n) for n in re.findall(r"^\s*\{(\w+), (?:true|false), ", read("abffio", "errortext.cpp"),
                                                  re.M)}
    section = guide.split("## ABF library error numbers", 1)[-1].split("\n## ", 1)[0]
    listed = set(re.findall(r"^\| (\d+) \|", section, re.M))
    problems += [f"library error {n}: not in the guide" for n in sorted(worded - listed, key=int)]
    problems += [f"library error {n}: the library has no text for it" for n in sorted(listed - worded, key=int)]

    # The example procedures the guide lists, with their parameters.
    procs = igor.Procedures(os.path.join(source, "docs", "kav_Sorvan Examples.ipf"))
    for name, params in re.findall(r"`(Kav\w+)\(([\w, ]*)\)`", guide):
        f = procs.functions.get(name)
        if f is None or [p.strip() for p in params.split(",") if p.strip()] != f.params:
            problems.append(f"example {name}({params}): not so in the example file")

    # Links within the page.
    anchors = {slug(h) for h in re.findall(r"^#+ (.*)$", guide, re.M)}
    problems += [f"link #{a}: no such heading" for a in re.findall(r"\]\(#([^)]+)\)", guide) if a not in anchors]
    return problems


def main():
    problems = check(sys.argv[1])
    for p in problems:
        print("FAIL", p)
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
