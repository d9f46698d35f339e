#!/usr/bin/env python3
"""Calls the five file-name functions through the host's command line for every
path of the example table and checks results, reference strings and audit."""
import argparse, json, subprocess, sys

ap = argparse.ArgumentParser()
ap.add_argument("--exe", required=True)
ap.add_argument("--emulator", default="")
ap.add_argument("--table", required=True)
ap.add_argument("--quick", action="store_true",
                help="only the example paths, each split once (for slow program starts)")
opts = ap.parse_args()

STRING_FUNCTIONS = ["kav_AbfFileStripExt", "kav_AbfFileStripFileName",
                    "kav_AbfFileStripPathName", "kav_AbfFileGetExt"]

rows = []
with open(opts.table, encoding="ascii") as f:
    edge_cases = False
    for line in f:
        line = line.rstrip("\n")
        if line.startswith("# Edge cases"):
            edge_cases = True
        if line.startswith("#") or (edge_cases and opts.quick):
            continue
        cells = line.split("\t")
        if len(cells) != 10:
            sys.exit("bad table line: %r" % line)
        rows.append(cells)

failures = []
def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)

def call(function, *args):
    cmd = ([opts.emulator] if opts.emulator else []) + [opts.exe, "--json", "call", function] + list(args)
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    out = p.stdout.decode("latin-1")
    check(p.returncode == 0, "%s%r: exit %d (%s)" % (function, args, p.returncode, p.stderr.decode("latin-1").strip()))
    try:
        return json.loads(out)
    except ValueError:
        check(False, "%s%r: not JSON: %r" % (function, args, out[:300]))
        return {}

def clean(j):
    a = j.get("audit", {})
    return (a.get("leaked") == 0 and a.get("double_released") == 0 and
            a.get("use_after_release") == 0 and a.get("violations") == [])

calls = 0
for number, row in enumerate(rows):
    path, expected_strings, split = row[0], row[1:5], row[5:9]
    which = int(row[9])
    for function, expected in zip(STRING_FUNCTIONS, expected_strings):
        j = call(function, path)
        calls += 1
        check(j.get("status") == 0, "%s(%r): status %r" % (function, path, j.get("status")))
        check(j.get("result") == expected, "%s(%r): %r, expected %r" % (function, path, j.get("result"), expected))
        check(clean(j), "%s(%r): audit %r" % (function, path, j.get("audit")))
    # The split, once into variables holding no string and once into variables
    # holding text already.
    all_refs = (["@null"] * 4, ["old drive", "", "x", "old extension text"])
    for refs in (all_refs[number % 2],) if opts.quick else all_refs:
        j = call("kav_AbfFileSplitPath", path, *refs)
        calls += 1
        what = "kav_AbfFileSplitPath(%r) with %r" % (path, refs)
        check(j.get("status") == 0, "%s: status %r" % (what, j.get("status")))
        check(j.get("result") == which, "%s: result %r, expected %d" % (what, j.get("result"), which))
        check(j.get("args", [None])[1:] == split, "%s: parts %r, expected %r" % (what, j.get("args"), split))
        check(clean(j), "%s: audit %r" % (what, j.get("audit")))

print("%d paths, %d calls, %d failures" % (len(rows), calls, len(failures)))
sys.exit(1 if failures else 0)
