#!/usr/bin/python3
"""sorvan on inputs and outputs that cannot work, as a table: each case gives the
exit status, how many message lines, and what must (not) be in the output folder
afterwards: never a half-written or temporary file. Also a Ctrl+C in the middle of
a large export (natively), and the pictures of `sorvan plot`."""
import os, shutil, signal, subprocess, sys, time

from harness import Harness, options

opts = options()
h = Harness(opts, timeout=600)
win, failures, check, native, run = h.win, h.failures, h.check, h.native, h.run

work = opts.work
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
W = lambda *p: os.path.join(work, *p)

for preset, name in [("step-protocol", "steps.abf"), ("default", "gapfree.abf"),
                     ("truncated-mid-data", "cut.abf"), ("abf1-truncated-mid-data", "cut1.abf"),
                     ("truncated-at-data", "cut-data.abf")]:
    check(run(opts.abfgen, "--preset", preset, native(W(name))).returncode == 0, "abfgen " + preset)
with open(W("notes.txt"), "w") as f:
    f.write("not a recording\n" * 100)
os.makedirs(W("folder.abf"))
os.makedirs(W("again"))
shutil.copyfile(W("steps.abf"), W("again", "steps.abf"))
with open(W("blocker"), "w") as f:
    f.write("a file where a folder is wanted\n")

GOOD, MISSING = native(W("steps.abf")), native(W("missing.abf"))
OUT = "@out"  # replaced by the case's own empty output folder

# NWB files (not in the Win32 build, which refuses the format as it does any other).
NWB_CASES = [
    ("nwb: missing file", ["export", MISSING, "--to", "nwb", "-o", OUT], 1, 1, 0),
    ("nwb: truncated in the data", ["export", native(W("cut.abf")), "--to", "nwb", "-o", OUT], 1, 1, 0),
    ("nwb: truncated ABF1", ["export", native(W("cut1.abf")), "--to", "nwb", "-o", OUT], 1, 1, 0),
    ("nwb: output folder is a file", ["export", GOOD, "--to", "nwb", "-o", native(W("blocker"))], 1, 1, None),
    ("nwb: the file's name is a folder", ["export", GOOD, "--to", "nwb", "-o", OUT], 1, 1, 1, ["steps.nwb"]),
    ("nwb: channel out of range", ["export", GOOD, "--to", "nwb", "--channel", "5", "-o", OUT], 1, 1, 0),
    ("nwb: episodes of a gap-free file", ["export", native(W("gapfree.abf")), "--to", "nwb", "--episodes", "2",
                                          "-o", OUT], 1, 1, 0),
    ("nwb: two inputs of one name", ["export", GOOD, native(W("again", "steps.abf")), "--to", "nwb", "-o", OUT],
     1, 1, 1),
    ("nwb: one bad input, the rest go on", ["export", native(W("cut.abf")), GOOD, "--to", "nwb", "-o", OUT], 1, 1, 1),
    ("nwb: --double", ["export", GOOD, "--to", "nwb", "--double", "-o", OUT], 2, 1, 0),
    ("nwb: a malformed UTC offset", ["export", GOOD, "--to", "nwb", "--utc-offset", "+25:00", "-o", OUT], 2, None, 0),
    ("--utc-offset for ibw", ["export", GOOD, "--to", "ibw", "--utc-offset", "+01:00", "-o", OUT], 2, 1, 0),
]

# name, arguments, exit status, message lines (None: any), files expected in @out
# [, folders made in @out beforehand]
CASES = [
    ("missing file", ["export", MISSING, "--to", "ibw", "-o", OUT], 1, 1, 0),
    ("text file", ["export", native(W("notes.txt")), "--to", "ibw", "-o", OUT], 1, 1, 0),
    ("truncated in the data", ["export", native(W("cut.abf")), "--to", "ibw", "-o", OUT], 1, 1, 0),
    ("truncated ABF1", ["export", native(W("cut1.abf")), "--to", "npy", "-o", OUT], 1, 1, 0),
    ("truncated at the data", ["export", native(W("cut-data.abf")), "--to", "itx", "-o", OUT], 1, 1, 0),
    ("a folder as input", ["export", native(W("folder.abf")), "--to", "csv", "-o", OUT], 1, 1, 0),
    ("output folder is a file", ["export", GOOD, "--to", "ibw", "-o", native(W("blocker"))], 1, 1, None),
    ("output folder inside a file", ["export", GOOD, "--to", "ibw", "-o", native(W("blocker", "sub"))], 1, 1, None),
    ("episode out of range", ["export", GOOD, "--to", "ibw", "--episodes", "2,99", "-o", OUT], 1, 1, 0),
    ("channel out of range", ["export", GOOD, "--to", "npy", "--channel", "7", "-o", OUT], 1, 1, 0),
    ("episodes of a gap-free file", ["export", native(W("gapfree.abf")), "--to", "ibw", "--episodes", "1",
                                     "-o", OUT], 1, 1, 0),
    ("one bad input, the rest go on", ["export", MISSING, GOOD, "--to", "ibw", "-o", OUT], 1, 1, 18),
    ("unknown format", ["export", GOOD, "--to", "xls", "-o", OUT], 2, None, 0),
    ("malformed episode list", ["export", GOOD, "--to", "ibw", "--episodes", "1-x", "-o", OUT], 2, None, 0),
    ("no input", ["export", "--to", "ibw", "-o", OUT], 2, None, 0),
    ("info on a missing file", ["info", MISSING], 1, 1, 0),
    ("header of a text file", ["header", native(W("notes.txt"))], 1, 1, 0),
    ("plot channel out of range", ["plot", GOOD, "--channel", "9", "-o", OUT + "/p.png"], 1, 1, 0),
    ("plot to an unknown picture type", ["plot", GOOD, "-o", OUT + "/p.gif"], 2 if not win else 1, 1, 0),
]

if not win:
    CASES += NWB_CASES
for i, (what, args, status, lines, files, *made) in enumerate(CASES):
    out = W("out%02d" % i)
    os.makedirs(out)
    for d in made[0] if made else []:
        os.makedirs(os.path.join(out, d))
    args = [a.replace(OUT, native(out)) if isinstance(a, str) and a.startswith(OUT) else a for a in args]
    p = run(opts.sorvan, *args)
    # Under Wine the program's two streams arrive as one; on success it prints nothing to stdout.
    text = p.stderr.decode("latin-1") + (p.stdout.decode("latin-1") if win else "")
    said = [l for l in text.splitlines() if l.strip()]
    check(p.returncode == status, "%s: exit %d, expected %d (%s)" % (what, p.returncode, status, text.strip()))
    if lines is not None:
        check(len(said) == lines, "%s: %d message lines, expected %d: %r" % (what, len(said), lines, said))
    left = sorted(os.listdir(out))
    if files is not None:
        check(len(left) == files and not any(f.startswith(".") for f in left),
              "%s: output folder holds %r" % (what, left))
    print("%-32s exit %d  %s" % (what, p.returncode, said[0][:100] if said else ""))

# Pictures (the Linux build; the Win32 build says it draws none).
for ext, magic in [(".png", b"\x89PNG"), (".svg", b"<?xml"), (".pdf", b"%PDF")]:
    pic = W("plot" + ext)
    p = run(opts.sorvan, "plot", GOOD, "-o", native(pic))
    if win:
        check(p.returncode == 1 and not os.path.exists(pic), "plot%s in the Win32 build: exit %d" % (ext, p.returncode))
    else:
        check(p.returncode == 0 and open(pic, "rb").read(len(magic)) == magic, "plot%s: exit %d" % (ext, p.returncode))

# Ctrl+C while a large export is being written: exit 130 and nothing left.
if not win:
    big = W("big.abf")
    check(run(opts.abfgen, "--samples", "4000000", "--channels", "2", native(big)).returncode == 0, "abfgen big")
    out = W("interrupted")
    os.makedirs(out)
    proc = subprocess.Popen([opts.sorvan, "export", big, "--to", "itx", "-o", out], stderr=subprocess.PIPE)
    deadline = time.time() + 60
    while time.time() < deadline and not any(f.endswith(".tmp") for f in os.listdir(out)) and proc.poll() is None:
        time.sleep(0.01)
    if proc.poll() is None:
        proc.send_signal(signal.SIGINT)
        proc.wait(timeout=60)
        left = os.listdir(out)
        check(proc.returncode == 130 and not left, "interrupted export: exit %d, left %r" % (proc.returncode, left))
        print("interrupted export              exit %d  %s" % (proc.returncode, proc.stderr.read().decode().strip()))
    else:
        check(False, "the export ended before it could be interrupted; make the recording larger")

if failures:
    print("%d failures" % len(failures))
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
print("ok")
