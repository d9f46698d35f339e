#!/usr/bin/env python3
"""Runs the host's command line as a separate program and checks its output."""
import argparse, json, os, struct, subprocess, sys, tempfile

ap = argparse.ArgumentParser()
ap.add_argument("--exe", required=True)
ap.add_argument("--plugin", required=True)
ap.add_argument("--emulator", default="")
opts = ap.parse_args()
win = opts.exe.lower().endswith(".exe")

def native_path(p):
    return "Z:" + p.replace("/", "\\") if win else p

failures = []
def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)

def run(*args, plugin=True):
    cmd = [c.encode() for c in ([opts.emulator] if opts.emulator else []) + [opts.exe]]
    if plugin:
        cmd += [b"--plugin", native_path(opts.plugin).encode()]
    cmd += [a if isinstance(a, bytes) else a.encode() for a in args]
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return p.returncode, p.stdout.decode("latin-1").replace("\r\n", "\n"), p.stderr.decode("latin-1")

def call_json(*args, **kw):
    rc, out, err = run("call", *args, "--json", **kw)
    check(rc == 0, "call %s: exit %d (%s)" % (args, rc, err.strip()))
    try:
        return json.loads(out)
    except ValueError:
        check(False, "call %s: not JSON: %r" % (args, out[:300]))
        return {}

# Parameters in table order, by-reference values after the call, the result.
j = call_json("t_Layout", "abcd", "7", "3", "-1")
check(j.get("status") == 0 and j.get("error_text") is None, "t_Layout status %r" % j)
check(j.get("result") == 4e6 + 7003, "t_Layout result %r" % j.get("result"))
check(j.get("args") == ["abcd", 7, 3, 4], "t_Layout args %r" % j.get("args"))
check(j.get("audit", {}).get("leaked") == 0 and j["audit"].get("double_released") == 0, "t_Layout audit")

# String results: bytes from 0x80 up come back as \u0080-\u00ff, controls escaped.
# (Under Wine the command line passes through the ANSI code page: ASCII only there.)
text = "a\"b\\c\x01\x1f" + ("" if win else "\xe9\xff")
j = call_json("t_Echo", text.encode("latin-1"))
check(j.get("result") == text, "t_Echo result %r" % j.get("result"))
j = call_json("t_Echo", "@null")
check(j.get("result") is None, "null string result %r" % j.get("result"))

# A wave: its properties, the history, and its data dumped raw.
with tempfile.TemporaryDirectory() as tmp:
    dump = os.path.join(tmp, "w.bin")
    j = call_json("t_Fill", "wave:f64:4", "1.5", "--dump-wave", "1", native_path(dump))
    w = j.get("args", [{}])[0]
    check(w.get("type") == "f64" and w.get("dims") == [4] and w.get("points") == 4, "wave %r" % w)
    check(w.get("xstart") == 2 and w.get("xstep") == 0.5, "wave scaling %r" % w)
    check(w.get("xunits") == "s" and w.get("dataunits") == "pA" and w.get("note") == "sKey=value;", "wave %r" % w)
    check(j.get("history") == "filled wave\n1\rdone\r", "history %r" % j.get("history"))
    data = open(dump, "rb").read() if os.path.exists(dump) else b""
    check(data == struct.pack("<4d", 1.5, 1.5, 1.5, 1.5), "dumped wave %r" % data)
j = call_json("t_Fill", "wave:f32:3x2", "1")
check(j.get("status") == 10006 and j["args"][0].get("dims") == [3, 2], "2D wave %r" % j)
j = call_json("t_Fill", "@null", "1")
check(j.get("status") == 10005 and j["args"][0] is None, "null wave %r" % j)

# By-reference strings, status texts from the plug-in's list, the audit.
j = call_json("t_Upper", "abc", "@null")
check(j.get("args") == ["abc", "ABC"] and j.get("result") == 3, "t_Upper %r" % j)
j = call_json("t_Status", "10002")
check(j.get("status") == 10002 and j.get("error_text") == "Second test error.", "status text %r" % j)
j = call_json("t_Leak", "x")
check(j.get("audit", {}).get("leaked") == 1, "leak audit %r" % j.get("audit"))
j = call_json("t_TwiceFree", "x")
check(j.get("audit", {}).get("double_released") == 1, "double release audit %r" % j.get("audit"))

# The text form says the same.
rc, out, err = run("call", "t_Upper", "abc", "x")
check(rc == 0 and 'status 0' in out and 'arg 2 (string by reference): "ABC"' in out, "text output %r" % out)

# Exit statuses: the call happened whatever its status; usage errors; unusable functions.
check(run("call", "t_Status", "412")[0] == 0, "exit status of a failing call")
check(run("call", "t_Layout", "a", "1")[0] == 2, "wrong argument count")
check(run("call", "t_Fill", "wave:f99:3", "1")[0] == 2, "bad wave type")
check(run("call", "t_Layout", "a", "x", "1", "1")[0] == 2, "bad number")
check(run("call", "t_Missing")[0] == 1, "function without address")
check(run("call", "t_Nothing")[0] == 1, "unknown function")
check(run("--frobnicate", "functions")[0] == 2, "unknown option")
rc, out, _ = run("--help", plugin=False)
check(rc == 0 and "call FUNCTION" in out, "--help")

# The real plug-in: its table and the handshake.
rc, out, _ = run("functions", plugin=False)
check(rc == 0 and out.startswith("25 external functions") and "kav_AbfStartTime(string, number, number, number by reference)" in out,
      "functions %r" % out[:200])
rc, out, _ = run("demo", plugin=False)
check(rc == 0 and "host accepted" in out and "handler installed" in out, "demo %r" % out[:300])
rc, out, _ = run("--host-version", "4990", "demo", plugin=False)
check(rc == 1 and "host refused" in out and "record result 163" in out, "demo refused %r" % out[:300])
rc, out, _ = run("--no-version-answer", "--program-version", "5.0.0.0", "demo", plugin=False)
check(rc == 0 and "host accepted" in out, "demo program version %r" % out[:300])

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
