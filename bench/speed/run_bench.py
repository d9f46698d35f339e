#!/usr/bin/env python3
"""The side-by-side benchmark of ./run bench.

Makes its recordings with abfgen, runs kav_bench (and sorvan export: .ibw, and
.nwb natively, the Linux build's only) natively, as IGOR.exe beside the plug-in and
the ABF library under Wine, and as Igor64.exe beside the 64-bit plug-in and library
under the 64-bit Wine, prints one table
in which every figure stands beside the bare limit measured in the same run on the
same file, with pass or fail against the targets, and keeps the table as JSON in
bench/results/ (one file per run and latest.json, which the next run compares with).

BENCH_VENDOR_DLL=PATH adds the same rows under Wine with that ABFFIO.dll (a user's
copy of the vendor's library) beside the plug-in instead of ours.
BENCH_ROUNDS (default 5) sets the rounds of the rows that move samples.

The Python rows (natively): sorvan.Recording.read of the large recording's channel
0 into an existing float32 array beside the plug-in's f32 read of it (into a wave
that exists), the same into a new array each time, the same channel through
python3-neo's raw reader (its chunk and rescale into float32, new arrays too),
and sorvan.open with the header of 1000 small recordings (bench_python.py, with
Debian's python3).

Every program runs on one CPU (taskset), the Wine server with it. Under Wine each
file open and close is a request to the server process; on a virtual machine a
request that wakes the server on another, idle CPU costs tens to a hundred
microseconds more, varying from run to run, which the per-call rows would show
instead of the code. BENCH_PIN=0 runs them unpinned.
"""
import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GAPFREE_SAMPLES = 100_000_000
SWEEPS, SWEEP_SAMPLES = 1000, 10_000
REAL_FILE = "data/abf/16d22006_kim_gapfree.abf"  # ABF2 2.00, gap-free, two channels

# The recordings: key, title, abfgen arguments (None: the real file), kav_bench groups.
FILES = [
    # (The creator is one python3-neo's reader accepts.)
    ("gapfree", "gap-free, 2 channels x 100 M samples (abfgen)",
     ["--mode", "gapfree", "--channels", "2", "--samples", str(GAPFREE_SAMPLES), "--no-tags", "--creator", "Clampex"],
     "channel,calls,memory"),
    ("episodic", "episodic, 1000 sweeps x 10 000 samples x 2 channels (abfgen)",
     ["--mode", "episodic", "--channels", "2", "--episodes", str(SWEEPS), "--episode-samples", str(SWEEP_SAMPLES)],
     "sweeps,calls"),
    ("real", "real ABF2 file, " + os.path.basename(REAL_FILE), None, "channel,calls,memory"),
    ("small", "%d small recordings (abfgen, four kinds)" % 1000, None, None),
]
SMALL_FILES = 1000
# The small recordings: four kinds, each copied to a quarter of the names.
SMALL_KINDS = [["--samples", "2000"], ["--mode", "episodic", "--episodes", "3", "--episode-samples", "1000"],
               ["--format", "abf1", "--samples", "2000"], ["--mode", "variable", "--episode-lengths", "300,500,200"]]

# The per-call targets are those of a real ABF2 file; the generated files show the
# same rows for comparison. The export's target is that of the large recording
# (the real file's export is over within the noise of starting a process).
CALL_TARGET_FILES = {"real"}
EXPORT_TARGET_FILES = {"gapfree"}

# Rows in table order: (id, label, kind, targets by environment). Kinds:
# "rate" (M samples/s and share of the bare limit, target a minimum share), "call"
# (microseconds per call, target a maximum), "sweeps" (all sweeps: seconds, target
# a maximum), "memory", "export" (a whole sorvan process less one that fails at once;
# its share is of the channel_f32 row, and its target a minimum of that).
ROWS = [
    ("bare", "bare limit: read() 1 MiB + int16->float", "rate", {}),
    ("bare_64k", "bare, the same in 64 KiB blocks", "rate", {}),
    ("library_210", "library alone: ordinal-210 loop", "rate", {"native": 0.85, "wine": 0.85, "wine64": 0.85}),
    ("scratch_f32", "the same via scratch + store pass, f32", "rate", {}),
    ("channel_f32", "kav_AbfChannelRead into f32", "rate", {"native": 0.85, "wine": 0.85, "wine64": 0.85}),
    ("channel_f64", "kav_AbfChannelRead into f64", "rate", {"native": 0.7, "wine": 0.7, "wine64": 0.7}),
    ("sweeps_f32", "every sweep, kav_AbfEpisodeRead each", "sweeps", {"native": 0.2, "wine": 0.2, "wine64": 0.2}),
    ("bare_open_close", "bare open + 4 KiB read + close (the OS)", "call", {}),
    ("open_close", "library alone: open + close", "call", {"native": 10}),
    ("query", "one query: kav_AbfChannelCount", "call", {"native": 12, "wine": 12, "wine64": 12}),
    ("metadata", "kav_AbfMetaData", "call", {"native": 60, "wine": 60, "wine64": 60}),
    ("host_round_trip", "host round trip (refused before open)", "call", {}),
    ("export_ibw", "sorvan export .ibw (share: of the f32 row)", "export", {"native": 0.5}),
    ("export_nwb", "sorvan export .nwb (share: of the f32 row)", "export", {"native": 0.5}),
    ("python_read", "Recording.read into f32 (share: of f32 row)", "export", {"native": 0.8}),
    ("python_read_bare", "Recording.read into f32 (share: of the bare)", "rate", {"native": 0.85}),
    ("python_read_new", "the same, a new array each (share: of f32)", "export", {}),
    ("neo_read", "python3-neo chunk+rescale f32 (new / neo)", "times", {"native": 5}),
    ("python_open", "sorvan.open + header dict", "files", {"native": 2000}),
    ("memory", "bytes opening reads; +library/+plug-in", "memory", {}),
]


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def run(cmd, env=None, check=True):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    if check and p.returncode != 0:
        raise RuntimeError("%s failed (%d):\n%s%s" % (" ".join(cmd), p.returncode, p.stdout, p.stderr))
    return p


def make_inputs(abfgen, data_dir):
    """The generated recordings, written again only when their arguments changed."""
    os.makedirs(data_dir, exist_ok=True)
    paths = {}
    for key, _, args, _ in FILES:
        if args is None:
            continue
        path = os.path.join(data_dir, key + ".abf")
        stamp = path + ".args"
        want = " ".join(args)
        if not (os.path.exists(path) and os.path.exists(stamp) and open(stamp).read() == want):
            log("writing %s" % path)
            run([abfgen] + args + [path])
            with open(stamp, "w") as f:
                f.write(want)
        paths[key] = path
    small = os.path.join(data_dir, "small")
    stamp = small + ".args"
    want = repr(SMALL_KINDS) + str(SMALL_FILES)
    if not (os.path.isdir(small) and os.path.exists(stamp) and open(stamp).read() == want):
        log("writing %s" % small)
        shutil.rmtree(small, ignore_errors=True)
        os.makedirs(small)
        for i in range(SMALL_FILES):
            kind = i % len(SMALL_KINDS)
            path = os.path.join(small, "rec%04d.abf" % i)
            if i < len(SMALL_KINDS):
                run([abfgen] + SMALL_KINDS[kind] + [path])
            else:
                shutil.copyfile(os.path.join(small, "rec%04d.abf" % kind), path)
        with open(stamp, "w") as f:
            f.write(want)
    paths["small"] = small
    return paths


# The CPU every program runs on (None: unpinned).
PIN = None


def pinned(cmd):
    return (["taskset", "-c", str(PIN)] if PIN is not None else []) + cmd


class Environment:
    """Where kav_bench and sorvan run: natively, or under Wine from a folder."""

    def __init__(self, key, title, bench, sorvan, wine_prefix=None, wine_run=None, python_dir=None):
        self.key, self.title, self.bench, self.sorvan = key, title, bench, sorvan
        self.wine_prefix, self.wine_run, self.python_dir = wine_prefix, wine_run, python_dir

    def command(self, exe, args):
        return pinned(([self.wine_run, exe] if self.wine_run else [exe]) + args)

    def env(self):
        e = dict(os.environ)
        if self.wine_prefix:
            e["KAV_WINEPREFIX"] = self.wine_prefix
        return e

    def path(self, p):
        """A path as the program takes it (Z:\\... under Wine)."""
        p = os.path.abspath(p)
        return "Z:" + p.replace("/", "\\") if self.wine_run else p

    def python_row(self, what, target, rounds):
        """A row of bench_python.py (natively, Debian's python3 with the build's package)."""
        e = self.env()
        e["PYTHONPATH"] = self.python_dir
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bench_python.py")
        p = run(pinned(["/usr/bin/python3", script, what, os.path.abspath(target), str(rounds)]), env=e, check=False)
        try:
            return json.loads(p.stdout)
        except ValueError:
            return {"error": "bench_python.py %s gave no result: %s" % (what, p.stderr[-300:])}

    def bench_rows(self, path, groups, rounds):
        p = run(self.command(self.bench, [os.path.abspath(path), groups, str(rounds)]), env=self.env(), check=False)
        out = p.stdout[p.stdout.find("{"):]
        try:
            result = json.loads(out)
        except ValueError:
            raise RuntimeError("kav_bench (%s) gave no result:\n%s%s" % (self.key, p.stdout, p.stderr))
        if "error" in result:
            raise RuntimeError("kav_bench (%s) on %s: %s" % (self.key, path, result["error"]))
        return {r["id"]: r for r in result["rows"]}

    def export_seconds(self, path, out_dir, rounds, fmt="ibw"):
        """Median seconds of a whole `sorvan export --to FMT` less those of one that fails before opening."""
        def timed(args):
            t0 = time.perf_counter()
            p = run(self.command(self.sorvan, args), env=self.env(), check=False)
            return time.perf_counter() - t0, p

        missing = self.path(os.path.join(out_dir, "no-such-file.abf"))
        common = ["--to", fmt, "--channel", "0", "-o", self.path(out_dir)]
        full, empty = [], []
        for _ in range(rounds):
            # Whatever earlier runs left for the disk is written first: the export is
            # timed into the page cache, not behind another file's writeback.
            os.sync()
            t, p = timed(["export", self.path(path)] + common)
            if p.returncode != 0:
                raise RuntimeError("sorvan export (%s) failed:\n%s%s" % (self.key, p.stdout, p.stderr))
            full.append(t)
            t, _ = timed(["export", missing] + common)
            empty.append(t)
            for f in os.listdir(out_dir):
                os.remove(os.path.join(out_dir, f))
        whole, start = statistics.median(full), statistics.median(empty)
        result = {"process_seconds": whole, "failing_process_seconds": start, "rounds_seconds": full}
        if whole <= start:
            # The export is lost in the noise of starting a process.
            result["skipped"] = "below process noise (%.0f ms a process)" % (start * 1e3)
        else:
            result["seconds"] = whole - start
        return result


def warm_wine(env):
    """One Wine server for all the runs, started and settled before the first.

    Each Wine program otherwise starts the prefix's server and its services anew
    (they are still starting while the program runs, and every file open is a
    request to that server), and the server quits a few seconds after the last
    program. It lingers 30 s after the last one here.
    """
    e = env.env()
    e["WINEPREFIX"] = env.wine_prefix
    quiet = {"env": e, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(env.command(env.bench, []), **quiet)  # makes the prefix when it is new
    subprocess.run(["wineserver", "-w"], **quiet)         # that server's end (a few seconds)
    subprocess.run(pinned(["wineserver", "-p30"]), **quiet)  # (a daemon: nothing may hold a pipe of ours)
    subprocess.run(env.command(env.bench, []), **quiet)
    time.sleep(3)


def measure(envs, inputs, rounds, scratch):
    """results[env][file][row id] = the row's figures."""
    results = {}
    for env in envs:
        results[env.key] = {}
        if env.wine_run:
            log("%s: starting the Wine server" % env.title)
            warm_wine(env)
        for key, _, _, groups in FILES:
            if key not in inputs:
                continue
            if groups is None:  # the small recordings: the Python row only
                if env.python_dir:
                    log("%s: %s, sorvan.open" % (env.title, key))
                    r = env.python_row("open", inputs[key], rounds)
                    if "error" not in r:
                        r["files_per_s"] = r["files"] / r["seconds"]
                    results[env.key][key] = {"python_open": r}
                continue
            log("%s: %s (%s)" % (env.title, key, groups))
            rows = env.bench_rows(inputs[key], groups, rounds)
            # The bare limit of this file in this run: the median of the bare passes
            # interleaved with the first row that moves samples.
            first = rows.get("library_210") or rows["sweeps_f32"]
            rows["bare"] = {"seconds": first["bare_seconds"], "msamples_per_s": first["bare_msamples_per_s"],
                            "share": 1.0, "samples": first["samples"]}
            # The NWB export is the Linux build's only (sorvan.exe has no HDF5).
            formats = ["ibw"] + (["nwb"] if not env.wine_run else [])
            for fmt in formats if key != "episodic" else []:
                log("%s: %s, sorvan export --to %s" % (env.title, key, fmt))
                out_dir = tempfile.mkdtemp(dir=scratch)
                try:
                    exp = env.export_seconds(inputs[key], out_dir, max(2, min(rounds, 3)), fmt)
                finally:
                    shutil.rmtree(out_dir, ignore_errors=True)
                if "seconds" in exp:
                    # Its share is of the plug-in's channel read into f32: the file the
                    # program writes holds what that read hands the host.
                    exp["msamples_per_s"] = first["samples"] / exp["seconds"] / 1e6
                    exp["share"] = exp["msamples_per_s"] / rows["channel_f32"]["msamples_per_s"]
                rows["export_" + fmt] = exp
            if env.python_dir and key in ("gapfree", "real"):
                log("%s: %s, Recording.read and python3-neo" % (env.title, key))
                # Into an existing array beside the plug-in's read into an existing wave;
                # into a new array (its pages faulted in) beside neo, which makes its own.
                ours = env.python_row("read", inputs[key], rounds)
                new = env.python_row("read_new", inputs[key], rounds)
                neo = env.python_row("neo", inputs[key], rounds)
                for r in (ours, new, neo):
                    if "error" not in r:
                        r["msamples_per_s"] = r["samples"] / r["seconds"] / 1e6
                for r in (ours, new):
                    if "error" not in r:
                        r["share"] = r["msamples_per_s"] / rows["channel_f32"]["msamples_per_s"]
                if "error" not in new and "error" not in neo:
                    neo["times"] = new["msamples_per_s"] / neo["msamples_per_s"]
                rows["python_read"], rows["python_read_new"], rows["neo_read"] = ours, new, neo
                if "error" not in ours:
                    # The same read against the bare limit of this file in this run.
                    rows["python_read_bare"] = dict(ours, share=ours["msamples_per_s"] / rows["bare"]["msamples_per_s"])
            results[env.key][key] = rows
    return results


def machine_info(native_bench):
    """Which machine this is: figures from different machines are not comparable.

    The kernel, the processor, its cores, the virtualisation where the system shows
    it, and what one system call costs here (kav_bench's `machine` group: a kernel
    that costs a microsecond or two a call, as a paravirtual one can, changes every
    per-call row)."""
    info = {"kernel": platform.release(), "cores": os.cpu_count()}
    try:
        with open("/proc/cpuinfo") as f:
            cpuinfo = f.read()
    except OSError:
        cpuinfo = ""
    for line in cpuinfo.splitlines():
        if line.startswith("model name"):
            info["cpu"] = " ".join(line.split(":", 1)[1].split())
            break
    flags = next((line for line in cpuinfo.splitlines() if line.startswith("flags")), "")
    virt = ""
    if shutil.which("systemd-detect-virt"):
        virt = run(["systemd-detect-virt", "--vm"], check=False).stdout.strip()
    if (not virt or virt == "none") and shutil.which("lscpu"):
        for line in run(["lscpu"], check=False).stdout.splitlines():
            if line.startswith("Hypervisor vendor:"):
                virt = line.split(":", 1)[1].strip().lower()
    if (not virt or virt == "none") and " hypervisor" in flags:
        virt = "a hypervisor (unnamed)"
    info["virtualization"] = virt or "none seen"
    p = run(pinned([native_bench, os.devnull, "machine"]), check=False)
    try:
        for r in json.loads(p.stdout[p.stdout.find("{"):])["rows"]:
            if r["id"] == "syscall":
                info["syscall_us"] = round(r["us"], 3)
    except (ValueError, KeyError):
        pass
    return info


def machine_text(m):
    if not m:
        return "(not recorded)"
    call = " one system call %.2f us," % m["syscall_us"] if "syscall_us" in m else ""
    return "kernel %s, %s, %s cores, virtualization: %s;%s" % (
        m.get("kernel", "?"), m.get("cpu", "?"), m.get("cores", "?"), m.get("virtualization", "?"), call.rstrip(","))


def same_machine(a, b):
    keys = ("kernel", "cpu", "cores", "virtualization")
    return bool(a) and bool(b) and all(a.get(k) == b.get(k) for k in keys)


def verdict(kind, value, target):
    if target is None or value is None:
        return None
    return value >= target if kind == "rate" else value <= target


def cell(kind, r, env_key, targets):
    """(text, pass or None, the figure compared between runs)."""
    if r is None:
        return "", None, None
    if "skipped" in r:
        return "(%s)" % r["skipped"], None, None
    if "error" in r:
        return "(%s)" % r["error"][:60], False, None
    target = targets.get(env_key)
    if kind == "times":  # another reader: its rate, and how many times ours is
        if "times" not in r:
            return "%7.0f M/s" % r["msamples_per_s"], None, r["msamples_per_s"]
        return "%7.0f M/s  x%.1f" % (r["msamples_per_s"], r["times"]), verdict("rate", r["times"], target), \
            r["msamples_per_s"]
    if kind == "files":
        return "%8.0f files/s" % r["files_per_s"], verdict("rate", r["files_per_s"], target), r["files_per_s"]
    target = targets.get(env_key)  # none for the vendor's library: the targets are ours
    if kind in ("rate", "export"):
        ok = verdict("rate", r["share"], target)
        text = "%7.0f M/s  %.2f" % (r["msamples_per_s"], r["share"])
        if kind == "export":
            text += "  (%.0f ms)" % (r["seconds"] * 1e3)
        return text, ok, r["msamples_per_s"]
    if kind == "call":
        return "%8.1f us" % r["us"], verdict("call", r["us"], target), r["us"]
    if kind == "sweeps":
        per = r["seconds"] / SWEEPS * 1e6
        return "%.3f s, %.0f us/sweep" % (r["seconds"], per), \
            verdict("call", r["seconds"], target), r["seconds"]
    if kind == "memory":
        kib = lambda key: "%d" % (r[key] // 1024) if r.get(key, -1) >= 0 else "?"
        return "%d B; +%s/+%s KiB" % (r["open_read_bytes"], kib("library_peak_extra_bytes"),
                                        kib("channel_read_peak_extra_bytes")), None, None
    return "", None, None


def target_text(kind, targets):
    if not targets:
        return ""
    op = ">=" if kind in ("rate", "export", "times", "files") else "<="
    unit = {"rate": "", "export": "", "call": " us", "sweeps": " s", "times": "x", "files": " files/s"}[kind]
    if len(targets) > 1 and len(set(targets.values())) == 1:
        return "%s%g%s" % (op, next(iter(targets.values())), unit)
    names = {"wine": "Wine", "wine64": "Wine 64"}
    return ", ".join("%s%g%s %s" % (op, v, unit, names.get(k, k)) for k, v in targets.items())


def table(results, envs, previous):
    """The table as lines, and the rows for the JSON."""
    width, twidth, cwidth = 44, 22, 30
    head = "%-*s %-*s" % (width, "row", twidth, "target") + "".join(" | %-*s" % (cwidth, e.title) for e in envs)
    lines = [head, "-" * len(head)]
    out_rows = []
    prev_rows = {r["id"]: r for r in (previous or {}).get("rows", [])}
    changes = []
    unmeetable = []
    for key, title, _, _ in FILES:
        if not any(key in results.get(e.key, {}) for e in envs):
            lines.append("== %s: skipped (file not found)" % title)
            continue
        lines.append("== " + title)
        for rid, label, kind, targets in ROWS:
            if (kind == "call" and key not in CALL_TARGET_FILES) or \
                    (kind in ("export", "times") and key not in EXPORT_TARGET_FILES):
                targets = {}
            cells = {}
            present = False
            for e in envs:
                r = results.get(e.key, {}).get(key, {}).get(rid)
                text, ok, figure = cell(kind, r, e.key, targets)
                present |= r is not None
                cells[e.key] = {"text": text, "pass": ok, "figure": figure, "raw": r}
                # A per-call target below what the system's own open, read and close
                # take here cannot be met on this machine: the bare row shows why.
                bare = results.get(e.key, {}).get(key, {}).get("bare_open_close")
                if kind == "call" and ok is False and bare and "us" in bare and bare["us"] >= targets[e.key]:
                    cells[e.key]["why"] = "the OS's own open + 4 KiB read + close takes %.1f us here" % bare["us"]
                    unmeetable.append("%s.%s (%s): %s, against %g us" % (key, rid, e.key, cells[e.key]["why"],
                                                                         targets[e.key]))
                # Likewise a channel read whose data path alone (the library's reads
                # through the scratch block and the store pass, without the host)
                # stays below the target: the prescribed calls bound it there.
                bound = results.get(e.key, {}).get(key, {}).get(rid.replace("channel_", "scratch_"))
                if rid.startswith("channel_") and ok is False and bound and bound.get("share", 1) < targets[e.key]:
                    cells[e.key]["why"] = "the reads through the scratch block and the store pass alone reach " \
                                          "%.2f of the bare limit here" % bound["share"]
                    unmeetable.append("%s.%s (%s): %s, against %g" % (key, rid, e.key, cells[e.key]["why"],
                                                                      targets[e.key]))
            if not present:
                continue
            row_id = key + "." + rid
            line = "%-*s %-*s" % (width, "  " + label[:width - 2], twidth, target_text(kind, targets))
            for e in envs:
                c = cells[e.key]
                mark = "" if c["pass"] is None else ("  pass" if c["pass"] else "  FAIL" + ("*" if "why" in c else ""))
                line += " | %-*s" % (cwidth, c["text"] + mark)
            lines.append(line)
            out_rows.append({"id": row_id, "label": label, "kind": kind, "targets": targets,
                             "cells": {k: dict({"pass": v["pass"], "figure": v["figure"], "text": v["text"],
                                                "raw": v["raw"]}, **({"why": v["why"]} if "why" in v else {}))
                                       for k, v in cells.items()}})
            old = prev_rows.get(row_id)
            if old:
                ch = []
                for e in envs:
                    a = old["cells"].get(e.key, {}).get("figure")
                    b = cells[e.key]["figure"]
                    ch.append("%+.1f%%" % ((b - a) / a * 100) if a and b is not None else "")
                if any(ch):
                    changes.append("%-*s %-*s" % (width, "  " + row_id, twidth, "") +
                                   "".join(" | %-*s" % (cwidth, c) for c in ch))
    return lines, out_rows, changes, unmeetable


def dump(doc):
    """The JSON of a run, one line for each row and each line of the table."""
    parts = []
    for key, value in doc.items():
        if isinstance(value, list):
            inner = ",\n".join("  " + json.dumps(v) for v in value)
            parts.append(" %s: [\n%s\n ]" % (json.dumps(key), inner))
        else:
            parts.append(" %s: %s" % (json.dumps(key), json.dumps(value)))
    return "{\n" + ",\n".join(parts) + "\n}\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    ap.add_argument("--native-build", default="build/release-native")
    ap.add_argument("--win32-build", default="build/release-win32")
    ap.add_argument("--win64-build", default="build/release-win64")
    ap.add_argument("--data", default="build/bench-data")
    ap.add_argument("--results", default="bench/results")
    ap.add_argument("--rounds", type=int, default=int(os.environ.get("BENCH_ROUNDS", "5")))
    ap.add_argument("--vendor-dll", default=os.environ.get("BENCH_VENDOR_DLL", ""))
    ap.add_argument("--no-wine", action="store_true", help="no rows under the 32-bit Wine")
    ap.add_argument("--why-no-wine", default="", help="the reason for --no-wine, said in the table's account")
    args = ap.parse_args()
    global PIN
    if os.environ.get("BENCH_PIN", "1") != "0" and shutil.which("taskset") and hasattr(os, "sched_getaffinity"):
        PIN = max(os.sched_getaffinity(0))
    root = os.path.abspath(args.root)
    os.chdir(root)
    shared = os.environ.get("KAV_SHARED_DIR", os.path.join(root, "..", "shared"))

    nb, wb = os.path.abspath(args.native_build), os.path.abspath(args.win32_build)
    wb64 = os.path.abspath(args.win64_build)
    inputs = make_inputs(os.path.join(nb, "bin", "abfgen"), args.data)
    real = os.path.join(shared, REAL_FILE)
    if os.path.exists(real):
        inputs["real"] = real
    else:
        log("%s not found: its rows are skipped" % real)

    envs = [Environment("native", "native", os.path.join(nb, "bin", "kav_bench"), os.path.join(nb, "bin", "sorvan"),
                        python_dir=os.path.join(nb, "python"))]
    # The 64-bit Wine runs on every machine.
    envs.append(Environment("wine64", "Wine 64-bit, our ABFFIO.dll", os.path.join(wb64, "benchhost", "Igor64.exe"),
                            os.path.join(wb64, "bin", "sorvan.exe"), os.path.join(wb64, ".wine64"),
                            os.path.join(root, "cmake", "wine64-run.sh")))
    if args.no_wine and args.why_no_wine:
        log("the 32-bit Wine rows are left out: " + args.why_no_wine)
    if not args.no_wine:
        wine_run = os.path.join(root, "cmake", "wine-run.sh")
        prefix = os.path.join(wb, ".wine")
        envs.append(Environment("wine", "Wine, our ABFFIO.dll", os.path.join(wb, "benchhost", "IGOR.exe"),
                                os.path.join(wb, "bin", "sorvan.exe"), prefix, wine_run))
        if args.vendor_dll:
            # The same programs in a folder of their own with that library beside them.
            vdir = os.path.join(wb, "benchhost-vendor")
            shutil.rmtree(vdir, ignore_errors=True)
            os.makedirs(vdir)
            for f in (os.path.join(wb, "benchhost", "IGOR.exe"), os.path.join(wb, "benchhost", "kav_Sorvan.xop"),
                      os.path.join(wb, "bin", "sorvan.exe")):
                shutil.copy2(f, vdir)
            shutil.copy2(args.vendor_dll, os.path.join(vdir, "ABFFIO.dll"))
            envs.append(Environment("wine_vendor", "Wine, vendor's ABFFIO.dll", os.path.join(vdir, "IGOR.exe"),
                                    os.path.join(vdir, "sorvan.exe"), prefix, wine_run))

    # Exports go beside the inputs, to the disk a user's would go to (its page cache:
    # nothing here waits for the disk itself).
    scratch = args.data
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else -1
    if load > 1:
        log("note: load average %.2f; wall-clock figures are noisy above about 1" % load)
    machine = machine_info(envs[0].bench)
    log("machine: " + machine_text(machine))
    results = measure(envs, inputs, args.rounds, scratch)

    os.makedirs(args.results, exist_ok=True)
    latest = os.path.join(args.results, "latest.json")
    previous = json.load(open(latest)) if os.path.exists(latest) else None
    lines, rows, changes, unmeetable = table(results, envs, previous)
    lines.insert(0, "machine: " + machine_text(machine))
    host = platform.node() or "host"
    now = datetime.datetime.now()
    commit = run(["git", "rev-parse", "--short", "HEAD"], check=False).stdout.strip()
    dirty = bool(run(["git", "status", "--porcelain", "--untracked-files=no"], check=False).stdout.strip())
    print("\n".join(lines))
    fails = [r["id"] + " (" + k + ")" for r in rows for k, c in r["cells"].items() if c["pass"] is False]
    print("\n%d of %d targets met%s" % (sum(1 for r in rows for c in r["cells"].values() if c["pass"]),
                                       sum(1 for r in rows for c in r["cells"].values() if c["pass"] is not None),
                                       "; failing: " + ", ".join(fails) if fails else ""))
    if unmeetable:
        print("* not to be met on this machine:\n  " + "\n  ".join(unmeetable))
    if previous and not same_machine(previous.get("machine"), machine):
        print("\nWARNING: the last run was on another machine (%s; this one: %s): the change below compares "
              "machines as much as code" % (machine_text(previous.get("machine")), machine_text(machine)))
    if previous:
        print("\nchange since the last run (%s, %s) of M samples/s (higher is better), us and s (lower is better)"
              % (previous.get("date", "?"), previous.get("commit", "?")))
        print("\n".join(changes) if changes else "  (no rows in common)")
    print("load average at the start: %.2f; %s" % (load, "every program on CPU %d" % PIN if PIN is not None
                                                       else "unpinned"))
    doc = {"date": now.isoformat(timespec="seconds"), "host": host, "commit": commit + ("+" if dirty else ""),
           "load_average": load, "machine": machine, "pinned_cpu": PIN, "rounds": args.rounds, "environments": {e.key: e.title for e in envs},
           "files": {k: os.path.abspath(p) for k, p in inputs.items()}, "rows": rows, "table": lines}
    name = os.path.join(args.results, "%s-%s.json" % (now.strftime("%Y%m%d-%H%M%S"), host))
    for path in (name, latest):
        with open(path, "w") as f:
            f.write(dump(doc))
    print("results: %s" % name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
