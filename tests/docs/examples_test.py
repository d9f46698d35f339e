#!/usr/bin/env python3
"""The example procedures, checked and run as a lab would run them.

Every kav_Abf call in docs/kav_Sorvan Examples.ipf is checked against the function
table; then the procedures run (tests/docs/igor.py), each kav_Abf call carried out by
the stand-in host's command line on recordings that abfgen writes, and each must
return what it promises for the recording and leave the waves it describes.

usage: examples_test.py SOURCE_DIR HOST ABFGEN [--wine | --wine64]
With --wine, HOST and ABFGEN are Win32 programs run through cmake/wine-run.sh (with
--wine64 Win64 programs, through cmake/wine64-run.sh), file names are Windows
paths, and only the cases marked for Wine run (each host call starts Wine anew).
"""
import math
import os
import sys
import tempfile
import subprocess

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import igor  # noqa: E402

# The recordings, by abfgen options; the expectations below follow from these.
RECORDINGS = {
    "gapfree": ["--samples", "3000", "--channels", "2", "--units", "pA,mV", "--interval", "50",
                "--creator", "rig 2", "--no-tags", "--tag", "time:0.05", "--tag", "time:0.1",
                "--tag", "external:0.07"],
    "steps": ["--preset", "step-protocol", "--episodes", "3", "--episode-samples", "10000",
              "--units", "pA,mV", "--interval", "50"],
    "events": ["--preset", "variable-events"],
}
STEP = 50e-6

# (procedure or menu item, arguments ("@NAME" is the recording's path), expected
# return, waves expected afterwards, text expected in the history, every kav_Abf
# call succeeds, run under Wine too)
CASES = [
    ("KavLoadGapFree", ["@gapfree", 1, "g1"], 3000,
     {"g1": dict(type="f32", dims=[3000], xunits="s", dataunits="mV", xstep=STEP)}, None, True, True),
    ("KavLoadSweeps", ["@steps", 0, "sw"], 3,
     {"sw_1": dict(dims=[10000], dataunits="pA"), "sw_3": dict(dims=[10000], xunits="s")}, None, True, False),
    ("KavLoadSweepMatrix", ["@steps", 1, "m"], 3,
     {"m": dict(dims=[10000, 3], xunits="s", dataunits="mV", xstep=STEP)}, None, True, False),
    ("KavLoadStimulus", ["@steps", 0, "st"], 3, {"st_3": dict(dims=[10000], xunits="s")}, None, True, False),
    ("KavLoadTimeTags", ["@gapfree", "tt"], 2, {"tt": dict(type="f64", dims=[2])}, None, True, False),
    ("KavHeaderNumber", ["@gapfree", "nADCNumChannels"], 2, {}, None, True, False),
    ("KavHeaderString", ["@gapfree", "sCreatorInfo"], "rig 2", {}, None, True, True),
    ("KavPrintSummary", ["@gapfree"], 2, {}, "20 kHz", True, False),
    ("KavLoadRecording", ["@steps"], 1,
     {"steps_ch0": dict(dims=[10000, 3]), "steps_ch1": dict(dims=[10000, 3]),
      "steps_stim_3": dict(dims=[10000])}, None, True, False),
    # Sweeps of different lengths: the matrix is refused and every sweep gets a wave.
    ("KavLoadRecording", ["@events"], 1, {"events_ch0_11": dict(xunits="s")}, "differ in length", False, False),
    ("menu:Load ABF recording...", ["gapfree", "steps"], 2,
     {"gapfree_ch1": dict(dims=[3000]), "gapfree_tags": dict(dims=[2]), "steps_ch1": dict(dims=[10000, 3])},
     None, True, False),
    ("menu:Load ABF recording...", [], 0, {}, None, True, False),
    # Failures the procedures report and survive.
    ("KavLoadGapFree", ["@missing", 0, "x"], 0, {}, "kav_AbfChannelCount failed", False, False),
    ("KavLoadGapFree", ["@steps", 0, "x"], 0, {}, "not a gap-free recording", True, False),
    ("KavLoadGapFree", ["@gapfree", 2, "x"], 0, {}, "there is no channel 2", True, False),
    ("KavLoadSweeps", ["@steps", -1, "bad"], 0, {}, "refused (status 10008): The channel number is invalid.",
     False, True),
]


def main():
    source, host, abfgen = [os.path.abspath(a) for a in sys.argv[1:4]]
    wine64 = "--wine64" in sys.argv[4:]
    wine = wine64 or "--wine" in sys.argv[4:]
    runner = [os.path.join(source, "cmake", "wine64-run.sh" if wine64 else "wine-run.sh")] if wine else []
    table = igor.read_function_table(os.path.join(source, "resources", "functions.csv"))
    try:
        procs = igor.Procedures(os.path.join(source, "docs", "kav_Sorvan Examples.ipf"))
        checker = igor.Checker(procs, table)
        checker.run()
    except igor.IgorError as e:
        print(f"FAIL kav_Sorvan Examples.ipf: {e}\n0 passed, 1 failed")
        return 1
    print(f"{len(checker.kav_calls)} kav_Abf calls match the function table")
    passed = failed = 0

    with tempfile.TemporaryDirectory() as tmp:
        def path(name):
            p = os.path.join(tmp, name + ".abf")
            return "Z:" + p.replace("/", "\\") if wine else p

        cases = [c for c in CASES if c[6] or not wine]
        wanted = {a[1:] for c in cases for a in c[1] if isinstance(a, str) and a.startswith("@")}
        wanted |= {a for c in cases if c[0].startswith("menu:") for a in c[1]}
        for name in sorted(wanted & set(RECORDINGS)):
            out = subprocess.run(runner + [abfgen] + RECORDINGS[name] + [path(name)], capture_output=True,
                                 text=True, cwd=tmp)
            if out.returncode != 0:
                sys.exit(f"abfgen {name}: {out.stdout}{out.stderr}")

        for proc, args, expected, waves, history, all_ok, _ in cases:
            label = f"{proc}({', '.join(map(str, args))})"
            answers = []
            if proc.startswith("menu:"):
                folder = path("")[:-len(".abf")].rstrip("\\/")
                answers = [("files:" + "|".join([folder] + [a + ".abf" for a in args])) if args else "cancel"]
            run = igor.Interpreter(procs, table, runner + [host], answers)
            problems = []
            try:
                if proc.startswith("menu:"):
                    got = run.run_menu(proc[len("menu:"):])
                else:
                    got = run.run(proc, *[path(a[1:]) if isinstance(a, str) and a.startswith("@")
                                          else float(a) if isinstance(a, int) else a for a in args])
            except igor.IgorError as e:
                got, problems = None, [str(e)]
            if got != expected:
                problems.append(f"returned {got!r}, expected {expected!r}")
            problems += run.problems
            if all_ok:
                problems += [f"{n}: status {s}, result {r!r}" for n, s, r in run.calls if s or r in (0, None)]
            for wname, props in waves.items():
                w = run.waves.get(wname)
                if w is None:
                    problems.append(f"no wave {wname}")
                    continue
                for key, want in props.items():
                    have = getattr(w, key)
                    if not (math.isclose(have, want, rel_tol=1e-9) if key == "xstep" else have == want):
                        problems.append(f"{wname}.{key} is {have!r}, expected {want!r}")
            text = "\n".join(run.history)
            if history and history not in text:
                problems.append(f"history lacks {history!r}: {text!r}")
            if problems:
                failed += 1
                print(f"FAIL {label}\n  " + "\n  ".join(problems))
            else:
                passed += 1
                print(f"ok   {label}: {len(run.calls)} kav_Abf calls")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
