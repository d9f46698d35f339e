#!/usr/bin/env python3
"""The builds held to one another: the same calls over the real recordings and
abfgen's presets through xophost (native), Igor64.exe (Win64, under the 64-bit
Wine) and, where the machine runs 32-bit programs, IGOR.exe (Win32) give the same
answers: status, result, by-reference values, waves (their data by hash, scaling,
units, notes), history and the ownership audit. File names are compared as <FILE>
and <DIR>: each build is given them in its own notation.

Usage: compare_builds.py --abfgen ABFGEN --work DIR --build NAME=HOST[@RUNNER[|PREFIX]] ...

RUNNER runs a Windows host (cmake/wine-run.sh, wine64-run.sh) in the Wine prefix
PREFIX. A host that is not there is a build not made: the test is skipped (77).

The first build (the native one) is asked first what each file holds, so that the
calls get waves of the right lengths; every build then makes the same calls, all of
them in one run of its host (`calls`).
"""
import argparse
import glob
import json
import os
import subprocess
import sys

ap = argparse.ArgumentParser()
ap.add_argument("--abfgen", required=True)
ap.add_argument("--work", required=True)
ap.add_argument("--build", action="append", required=True, help="NAME=HOST[@RUNNER[|PREFIX]]")
ap.add_argument("--shared", default=os.environ.get("KAV_SHARED_DIR", ""))
opts = ap.parse_args()

# Gap-free channels are read whole up to this many samples (every real recording).
MAX_CHANNEL_READ = 4_000_000
# Channels read in each file (the first ones), and their episodes (first and last).
MAX_CHANNELS = 3


class Build:
    def __init__(self, spec):
        self.name, _, rest = spec.partition("=")
        self.host, _, rest = rest.partition("@")
        self.runner, _, self.prefix = rest.partition("|")
        self.windows = self.host.lower().endswith(".exe")

    def path(self, p):
        """A file name as this build's plug-in is given it."""
        return "Z:" + p.replace("/", "\\") if self.windows else p

    def run(self, lines, tag):
        """The calls (lists of fields, the file as FILE) in one run; one JSON object each."""
        script = os.path.join(opts.work, f"{self.name}-{tag}.txt")
        with open(script, "w", encoding="latin-1", newline="\n") as f:
            for _, fields in lines:
                f.write("\t".join(self.path(x) if x.startswith("/") else x for x in fields) + "\n")
        cmd = ([self.runner] if self.runner else []) + [self.host, "calls", self.path(script)]
        env = dict(os.environ, KAV_WINEPREFIX=self.prefix) if self.prefix else None
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=1200, env=env)
        out = [json.loads(x) for x in p.stdout.decode("latin-1").splitlines() if x.startswith("{")]
        if p.returncode != 0 or len(out) != len(lines):
            sys.exit(f"FAIL: {self.name}: exit {p.returncode}, {len(out)} answers to {len(lines)} calls\n"
                     f"{p.stderr.decode('latin-1')[-2000:]}")
        return out

    def normalised(self, value, file):
        """The answer with this build's notation of the file and its folder as <FILE> and <DIR>."""
        if isinstance(value, dict):
            return {k: self.normalised(v, file) for k, v in value.items()}
        if isinstance(value, list):
            return [self.normalised(v, file) for v in value]
        if isinstance(value, str) and file:
            f = self.path(file)
            return value.replace(f, "<FILE>").replace(f[:f.rfind("\\" if self.windows else "/")], "<DIR>")
        return value


builds = [Build(b) for b in opts.build]
for b in builds + [Build("abfgen=" + opts.abfgen)]:
    if not os.path.isfile(b.host):
        print(f"skipped: {b.host} is not built (./run test builds every configuration first)")
        sys.exit(77)
os.makedirs(opts.work, exist_ok=True)

# ---- The files: the real recordings, and every preset of abfgen.
files = []
if opts.shared and os.path.isdir(os.path.join(opts.shared, "data", "abf")):
    files += sorted(glob.glob(os.path.join(opts.shared, "data", "abf", "*.abf")))
else:
    print("note: KAV_SHARED_DIR is not set: the real recordings are left out, the presets compared")
presets = subprocess.run([opts.abfgen, "--list-presets"], stdout=subprocess.PIPE, check=True,
                         text=True).stdout.split("\n")
for name in (line.split()[0] for line in presets if line.strip()):
    path = os.path.abspath(os.path.join(opts.work, f"preset-{name}.abf"))
    subprocess.run([opts.abfgen, "--preset", name, path], stdout=subprocess.DEVNULL, check=True)
    files.append(path)
if len(files) < 10:
    sys.exit(f"FAIL: only {len(files)} files to compare")

# ---- What the native build says each file holds: its counts, then the sample
# counts of its first and last episodes.
QUERIES = [("kav_AbfChannelCount", "0"), ("kav_AbfEpisodeCount", "0"), ("kav_AbfOperationMode", "0"),
           ("kav_AbfTotalSampleCount", "0")]


def count(answer):
    return int(answer["args"][-1]) if answer.get("status") == 0 and answer.get("result") == 1 else 0


answers = builds[0].run([(f, [fn, f, ref]) for f in files for fn, ref in QUERIES], "counts")
held = {f: [count(a) for a in answers[4 * i:4 * i + 4]] for i, f in enumerate(files)}
episode_calls = [(f, ["kav_AbfSampleCount", f, str(e), "0"]) for f in files for e in sorted({1, held[f][1]})
                 if held[f][1]]
episode_samples = {(f, int(c[2])): count(a) for (f, c), a in
                   zip(episode_calls, builds[0].run(episode_calls, "episodes"))}

calls = []
for f in files:
    channels, episodes, mode, total = held[f]
    one = [["kav_AbfIsAbfFile", f], ["kav_AbfHasData", f], ["kav_AbfADCSamplingSeq", f, "@null"]]
    one += [[fn, f, ref] for fn, ref in QUERIES]
    for (g, episode), n in sorted(episode_samples.items()):
        if g != f:
            continue
        e = str(episode)
        one.append(["kav_AbfSampleCount", f, e, "0"])
        for channel in range(min(channels, MAX_CHANNELS)):
            c = str(channel)
            one.append(["kav_AbfStartTime", f, c, e, "0"])
            one.append(["kav_AbfEpisodeRead", f, c, e, f"wave:f32:{n}"])
            one.append(["kav_AbfEpisodeWaveform", f, c, e, f"wave:f64:{n}"])
    if mode == 3 and 0 < total <= MAX_CHANNEL_READ:
        for channel in range(min(channels, 2)):
            one.append(["kav_AbfChannelRead", f, str(channel), f"wave:f{32 << channel}:{total}"])
    one += [["kav_AbfReadTimeTags", f, "wave:f64:0"], ["kav_AbfReadExternalTags", f, "wave:f32:0"],
            ["kav_AbfMetaData", f, "@null"], ["kav_AbfPrintMetaData", f],
            # Refusals: an episode past the last, a channel past 15, a wave of the wrong length.
            ["kav_AbfEpisodeRead", f, "0", str(episodes + 1), "wave:f32:8"],
            ["kav_AbfChannelRead", f, "16", "wave:f32:8"], ["kav_AbfEpisodeRead", f, "0", "1", "wave:f64:3"],
            ["kav_AbfLastErr"], ["kav_AbfLastErrStr"]]
    calls += [(f, c) for c in one]

# ---- Every build makes the calls; each answer must equal the native one.
results = {b.name: [b.normalised(a, f) for (f, _), a in zip(calls, b.run(calls, "calls"))] for b in builds}
failures = 0
reference = builds[0]
for i, (f, c) in enumerate(calls):
    want = results[reference.name][i]
    audit = want.get("audit", {})
    if "error" in want or audit.get("leaked") or audit.get("violations") or audit.get("double_released"):
        failures += 1
        print(f"FAIL: {reference.name}: {c[0]} {os.path.basename(f)}: {json.dumps(want)[:400]}")
    for b in builds[1:]:
        got = results[b.name][i]
        if got != want:
            failures += 1
            if failures <= 20:
                keys = sorted(k for k in set(want) | set(got) if want.get(k) != got.get(k))
                print(f"FAIL: {b.name} differs from {reference.name} in {c[0]} "
                      f"{' '.join(c[2:])} of {os.path.basename(f)}: {keys}")
                for k in keys:
                    print(f"    {reference.name}: {json.dumps(want.get(k))[:300]}")
                    print(f"    {b.name}: {json.dumps(got.get(k))[:300]}")
reads = sum(1 for _, c in calls if "Read" in c[0] or "Waveform" in c[0])
print(f"{len(calls)} calls ({reads} reads) over {len(files)} files through "
      f"{', '.join(b.name for b in builds)}: {failures} differences or failures")
sys.exit(1 if failures else 0)
