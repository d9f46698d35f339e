#!/usr/bin/env python3
"""Calls the readers through the host's command line on every real recording and
compares what the waves receive with the vendor library's recorded answers:
channels of gap-free files, episodes, stimulus waveforms and tag counts. Every
recording the vendor library opened is compared: one that is missing from the
shared data, or that the plug-in does not read, fails the test. Exits 77
(skipped) when the shared data is not there."""
import argparse, glob, hashlib, json, os, struct, subprocess, sys, tempfile

ap = argparse.ArgumentParser()
ap.add_argument("--exe", required=True)
ap.add_argument("--emulator", default="")
ap.add_argument("--shared", default=os.environ.get("KAV_SHARED_DIR", ""))
ap.add_argument("--episodes", type=int, default=0,
                help="per file, only the first and last N episodes (0: all)")
opts = ap.parse_args()
win = opts.exe.lower().endswith(".exe")
golden_dir = os.path.join(opts.shared, "data", "golden") if opts.shared else ""
if not os.path.isdir(golden_dir):
    print("SKIPPED: the shared data is not there: %s" % (golden_dir or "KAV_SHARED_DIR is not set"))
    sys.exit(77)

def native_path(p):
    return "Z:" + p.replace("/", "\\") if win else p

failures = []
def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)
    return cond

tmp = tempfile.mkdtemp(prefix="kav_readers_cli_")
dump = os.path.join(tmp, "wave.bin")
calls = 0

def call(fn, args, wave_param):
    """Runs one call with --json, dumps the wave parameter; returns (json, bytes)."""
    global calls
    calls += 1
    cmd = ([opts.emulator] if opts.emulator else []) + [opts.exe, "call", fn] + args + [
        "--json", "--dump-wave", str(wave_param), native_path(dump)]
    if os.path.exists(dump):
        os.remove(dump)
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if not check(p.returncode == 0, "%s %s: exit %d %s" % (fn, args, p.returncode, p.stderr[-300:])):
        return {}, b""
    try:
        j = json.loads(p.stdout.decode("latin-1"))
    except ValueError:
        check(False, "%s %s: not JSON" % (fn, args))
        return {}, b""
    a = j.get("audit", {})
    check(a.get("leaked") == 0 and a.get("double_released") == 0 and a.get("use_after_release") == 0
          and not a.get("violations"), "%s %s: audit %r" % (fn, args, a))
    data = open(dump, "rb").read() if os.path.exists(dump) else b""
    return j, data

def as_f32(data, kind):
    """The wave's bytes as float32 bytes (a double wave narrowed, checking it was widened exactly)."""
    if kind == "f32":
        return data
    vals = struct.unpack("<%dd" % (len(data) // 8), data)
    out = struct.pack("<%df" % len(vals), *vals)
    back = struct.unpack("<%df" % len(vals), out)
    check(all(a == b for a, b in zip(vals, back)), "double wave holds values that are not widened floats")
    return out

sha = lambda b: hashlib.sha256(b).hexdigest()

goldens = sorted(glob.glob(os.path.join(golden_dir, "*.json")))
promised = files = 0
for gpath in goldens:
    g = json.load(open(gpath))
    if not g.get("ord110", {}).get("ok"):
        continue
    promised += 1
    path = os.path.join(opts.shared, "data", "abf", g["file"])
    if not check(os.path.exists(path), "%s: the recording its answers are for is missing" % g["file"]):
        continue
    files += 1
    name = native_path(path)
    hs = g["header_summary"]
    eps = g["episodes"]
    nch = hs["nADCNumChannels"]

    if hs["nOperationMode"] == 3:
        points = hs["lActualAcqLength"] // nch
        for logical in range(nch):
            for kind in ("f32", "f64"):
                j, data = call("kav_AbfChannelRead", [name, str(logical), "wave:%s:%d" % (kind, points)], 3)
                if not check(j.get("status") == 0 and j.get("result") == 1,
                             "%s channel %d %s: %r" % (g["file"], logical, kind, j.get("result"))):
                    continue
                f = as_f32(data, kind)
                at = 0
                for e, ep in enumerate(eps):
                    r = ep["channels"][logical]["ord210"]
                    n = r["count"] * 4
                    check(sha(f[at:at + n]) == r["sha256"], "%s channel %d read %d" % (g["file"], logical, e + 1))
                    at += n
                check(at == len(f), "%s channel %d: %d bytes, reads %d" % (g["file"], logical, len(f), at))

    chosen = range(len(eps))
    if opts.episodes and len(eps) > 2 * opts.episodes:
        chosen = list(range(opts.episodes)) + list(range(len(eps) - opts.episodes, len(eps)))
    for e in chosen:
        ep = eps[e]
        count = ep["ord340"]["count"]
        for ch in ep["channels"]:
            logical = ch["logical"]
            kind = "f64" if (e + logical) % 2 else "f32"
            where = "%s episode %d channel %d" % (g["file"], e + 1, logical)
            wave = "wave:%s:%d" % (kind, count)
            j, data = call("kav_AbfEpisodeRead", [name, str(logical), str(e + 1), wave], 4)
            if check(j.get("status") == 0 and j.get("result") == ch["ord210"]["ok"], where + " read"):
                if ch["ord210"]["ok"]:
                    check(sha(as_f32(data, kind)) == ch["ord210"]["sha256"], where + " samples")
                    note = dict(kv.split("=", 1) for kv in j["args"][3]["note"].split(";") if "=" in kv)
                    start = ch["ord350"]["value"]
                    check(abs(float(note.get("dStartTime", "nan")) - start) <= abs(start) * 1e-5 + 1e-9,
                          where + " dStartTime %r, vendor %r" % (note.get("dStartTime"), start))
                    check(note.get("iLogicalChannel") == str(logical), where + " note channel")
            j, data = call("kav_AbfEpisodeWaveform", [name, str(logical), str(e + 1), wave], 4)
            w = ch["ord250"]
            if check(j.get("status") == 0 and j.get("result") == w["ok"],
                     where + " waveform result %r, vendor %r" % (j.get("result"), w["ok"])):
                if w["ok"]:
                    check(sha(as_f32(data, kind)) == w["sha256"], where + " waveform")
                    check(j["args"][3]["note"] == "", where + " waveform note")

    # Tags of each selected kind: the vendor's records of that kind, in order.
    records = g.get("ord270", {}).get("records", []) if isinstance(g.get("ord270"), dict) else []
    for fn, kind in (("kav_AbfReadTimeTags", 0), ("kav_AbfReadExternalTags", 2)):
        j, data = call(fn, [name, "wave:f32:1"], 2)
        want = [r["time"] for r in records if r["type"] == kind]
        if check(j.get("status") == 0 and j.get("result") == 1, "%s %s" % (g["file"], fn)):
            check(j["args"][1]["type"] == "f64" and j["args"][1]["points"] == len(want),
                  "%s %s: %r" % (g["file"], fn, j["args"][1]))

print("%d of %d files, %d calls, %d failures" % (files, promised, calls, len(failures)))
check(promised > 0 and files == promised, "compared %d of the %d recordings the vendor library opened" % (files, promised))
sys.exit(1 if failures else 0)
