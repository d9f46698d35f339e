#!/usr/bin/env python3
"""Checks every #include "..." of the source tree against README's layout tables.

Usage: check_includes.py SOURCE_ROOT

README.md's layout tables have a row per top-level folder whose last column says
which folders its files may include ("nothing else", a list of `folder/`, or
"any folder"). A quoted include names its folder by its first path component
(includes without a folder are the including file's own folder). Fails, naming
the file and line, on an include of a folder the table does not allow, of a file
that is not a header (another folder's implementation), of a folder the tables do
not know, and on a cycle among the folders, in the table or in the includes.
"""
import os
import re
import sys

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp", ".h.in")
SKIPPED = {"build", "dist", ".git"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
ROW = re.compile(r"^\|\s*`([\w.-]+)/`\s*\|.*\|\s*([^|]*?)\s*\|\s*$")
FOLDER = re.compile(r"`([\w.-]+)/`")


def read_table(readme):
    """{folder: set of folders it may include, or None for any folder}."""
    allowed = {}
    with open(readme, encoding="utf-8") as f:
        for line in f:
            m = ROW.match(line)
            if not m:
                continue
            folder, may = m.group(1), m.group(2)
            allowed[folder] = None if "any folder" in may else set(FOLDER.findall(may))
    return allowed


def includes(root):
    """(including folder, file, line number, included path) for every quoted include."""
    for top in sorted(os.listdir(root)):
        base = os.path.join(root, top)
        if top in SKIPPED or not os.path.isdir(base):
            continue
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames[:] = sorted(d for d in dirnames if d not in SKIPPED)
            for name in sorted(filenames):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m:
                            yield top, os.path.relpath(path, root), number, m.group(1)


def find_cycle(graph):
    """A list of folders forming a cycle in {folder: set of folders}, or None."""
    state = {}

    def visit(node, path):
        state[node] = "open"
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, path + [nxt])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    allowed = read_table(os.path.join(root, "README.md"))
    failures = []
    if not allowed:
        failures.append("README.md: no layout table with a 'may include' column")
    table_graph = {k: v for k, v in allowed.items() if v is not None}
    for folder, targets in table_graph.items():
        for t in sorted(targets - set(allowed)):
            failures.append(f"README.md: `{folder}/` may include `{t}/`, which has no row")
    cycle = find_cycle({k: v - {k} for k, v in table_graph.items()})
    if cycle:
        failures.append("README.md: the allowed includes form a cycle: " + " -> ".join(cycle))

    graph = {}
    count = 0
    for folder, path, number, included in includes(root):
        count += 1
        where = f"{path}:{number}: \"{included}\""
        target = included.split("/")[0] if "/" in included else folder
        if not included.endswith((".h", ".hpp")):
            failures.append(f"{where}: includes a file that is not a header")
        if folder not in allowed:
            failures.append(f"{where}: folder `{folder}/` has no row in README's layout tables")
            continue
        if target == folder:
            continue
        graph.setdefault(folder, set()).add(target)
        may = allowed[folder]
        if target not in allowed:
            failures.append(f"{where}: `{target}/` has no row in README's layout tables")
        elif may is not None and target not in may:
            failures.append(f"{where}: `{folder}/` may not include `{target}/`")
    cycle = find_cycle(graph)
    if cycle:
        failures.append("the includes between folders form a cycle: " + " -> ".join(cycle))

    for f in failures:
        print("FAIL:", f)
    if failures:
        sys.exit(1)
    print(f"{count} includes in {len(allowed)} folders follow README's layout")


if __name__ == "__main__":
    main()
