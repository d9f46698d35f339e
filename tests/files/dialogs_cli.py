#!/usr/bin/env python3
"""The dialogs through the native host's command line: scripted answers with
--answer, and answers typed on the terminal (here fed through stdin)."""
import json, os, subprocess, sys, tempfile

exe = sys.argv[1]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def call(args, answers=(), stdin=None):
    cmd = [exe] + [a for ans in answers for a in ("--answer", ans)] + ["call"] + args + ["--json"]
    p = subprocess.run(cmd, input=(stdin or "").encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=60)
    check(p.returncode == 0, "%s: exit %d (%s)" % (cmd, p.returncode, p.stderr.decode(errors="replace")))
    try:
        return json.loads(p.stdout.decode("latin-1")), p.stderr.decode("latin-1")
    except ValueError:
        check(False, "%s: not JSON: %r" % (cmd, p.stdout[:300]))
        return {}, ""


def clean(j, what):
    a = j.get("audit", {})
    check(a.get("leaked") == 0 and a.get("double_released") == 0 and a.get("use_after_release") == 0
          and a.get("violations") == [], "%s: audit %r" % (what, a))


OPEN, BROWSE = "kav_AbfFileOpenDialog", "kav_AbfBrowseForFolder"

with tempfile.TemporaryDirectory() as tmp:
    for n in ("a.abf", "b.abf"):
        open(os.path.join(tmp, n), "w").close()
    a, b = os.path.join(tmp, "a.abf"), os.path.join(tmp, "b.abf")

    # Scripted answers, in order, one per dialog.
    rows = [
        ([OPEN, "T", "@null", "257"], ["files:%s|a.abf|b.abf" % tmp], a + "|" + b),
        ([OPEN, "T", "@null", "1"], ["file:" + a], a),
        ([OPEN, "T", "@null", "1"], ["cancel"], ""),
        ([OPEN, "T", "@null", "1"], ["fail"], ""),
        ([BROWSE, "%KAVDLG_CLI%"], ["folder:" + tmp], tmp),
        ([BROWSE, "x"], ["nopath"], ""),
    ]
    os.environ["KAVDLG_CLI"] = tmp
    for args, answers, expected in rows:
        j, _ = call(args, answers)
        what = "%s with %s" % (args, answers)
        check(j.get("status") == 0, what + ": status %r" % j.get("status"))
        check(j.get("result") == expected, what + ": result %r, expected %r" % (j.get("result"), expected))
        clean(j, what)

    # On the terminal: the dialog is described, then a path; several paths one per line.
    j, err = call([OPEN, "Pick one", "@null", "1"], stdin=a + "\n")
    check(j.get("result") == a, "typed one path: %r" % j.get("result"))
    check('"Pick one"' in err and "Abf Files (*.abf)" in err and "* " in err and "All Files (*.*)" in err,
          "the dialog's title and filters are shown: %r" % err[:400])
    clean(j, "typed one path")

    j, err = call([OPEN, "Pick", "@null", "257"], stdin="%s\n%s\n\n" % (a, b))
    check(j.get("result") == a + "|" + b, "typed two paths: %r" % j.get("result"))

    # A file that does not exist is refused and asked for again; paths from two
    # folders too; an empty first line cancels.
    j, err = call([OPEN, "Pick", "@null", "257"],
                  stdin="%s/missing.abf\n\n%s\n/elsewhere/x.abf\n\n%s\n\n" % (tmp, a, b))
    check("No such file" in err and "one folder" in err, "refusals explained: %r" % err[-400:])
    check(j.get("result") == b, "asked again until usable: %r" % j.get("result"))

    # Typed relative paths are taken from the current folder.
    p = subprocess.run([exe, "call", OPEN, "Pick", "@null", "257", "--json"], input=b"a.abf\nb.abf\n\n",
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=tmp, timeout=60)
    j = json.loads(p.stdout.decode("latin-1"))
    check(j.get("result") == a + "|" + b, "typed relative paths: %r" % j.get("result"))

    j, _ = call([OPEN, "Pick", "@null", "1"], stdin="\n")
    check(j.get("result") == "" and j.get("status") == 0, "empty line cancels: %r" % j)
    j, _ = call([OPEN, "Pick", "@null", "1"], stdin="")
    check(j.get("result") == "" and j.get("status") == 0, "end of input cancels: %r" % j)

    j, err = call([BROWSE, "%KAVDLG_CLI%"], stdin=tmp + "\n")
    check(("preselected: " + tmp) in err, "the preselection is shown: %r" % err)
    check(j.get("result") == tmp, "typed folder: %r" % j.get("result"))
    j, _ = call([BROWSE, "x"], stdin="?\n")
    check(j.get("result") == "", "virtual item: %r" % j.get("result"))

    # Usage errors for answers that mean nothing.
    for bad in ("files:/x", "file:", "choose", "files:/x|a|"):
        p = subprocess.run([exe, "--answer", bad, "call", BROWSE, "x"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60)
        check(p.returncode == 2, "--answer %s: exit %d" % (bad, p.returncode))

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
