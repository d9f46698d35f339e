#!/usr/bin/python3
"""sorvan's exports read back as a user would read them, against the plug-in's own
wave for the same read (the stand-in host's `call ... --json --dump-wave`):

- .ibw with python3-igor (and its checksum), .itx with a reader of Igor's text
  format, .npy with numpy, .csv with the csv module;
- the same float32 samples bit for bit, X start and step, data units and wave
  note; stimulus waves against kav_AbfEpisodeWaveform; tag times against the
  tags `sorvan info --json` lists and kav_AbfReadTimeTags.

Inputs: abfgen recordings of every operation mode, and every real recording in
KAV_SHARED_DIR/data/abf (left out, saying so, when absent). Every preset and every
real recording the vendor library opened with data must be read and compared: one
that sorvan refuses fails the test, and so does comparing fewer files than that.
Run with Debian's /usr/bin/python3 (python3-igor, python3-numpy)."""
import csv, glob, json, math, os, re, shutil, subprocess, sys

import numpy as np
from igor import binarywave

from harness import Harness, options

opts = options(("--host", dict(required=True)),
               ("--shared", dict(default=os.environ.get("KAV_SHARED_DIR", ""))),
               ("--quick", dict(action="store_true",
                                help="real files: first channel and first episode only (every start under Wine is slow)")))
h = Harness(opts, timeout=900)
win, failures, check, native, run = h.win, h.failures, h.check, h.native, h.run


def sorvan(*args):
    p = run(opts.sorvan, *args)
    check(p.returncode == 0, "sorvan %s: exit %d: %s" % (" ".join(map(str, args)), p.returncode,
                                                         p.stderr.decode("latin-1")[-400:]))
    return p


def plugin_wave(fn, args, wave_param, dump):
    """The plug-in's wave after a call: (json of the wave, its float32 bytes)."""
    if os.path.exists(dump):
        os.remove(dump)
    p = run(opts.host, "call", fn, *args, "--json", "--dump-wave", wave_param, native(dump))
    if not check(p.returncode == 0, "%s %s: host exit %d" % (fn, args, p.returncode)):
        return None, b""
    j = json.loads(p.stdout.decode("latin-1"))
    return j, open(dump, "rb").read() if os.path.exists(dump) else b""


def latin1(s):
    """Host JSON strings carry bytes 0x80-0xff as code points of the same value."""
    return s.encode("latin-1")


# ---- readers ----------------------------------------------------------------

def ibw_read(path):
    raw = open(path, "rb").read()
    check(sum(np.frombuffer(raw[:384], "<i2").astype(np.int64)) % 65536 == 0, path + ": checksum")
    w = binarywave.load(path)["wave"]
    wh = w["wave_header"]
    units = w["data_units"] if w["bin_header"]["dataEUnitsSize"] else b"".join(wh["dataUnits"])
    xunits = w["dimension_units"] if w["bin_header"]["dimEUnitsSize"][0] else b"".join(wh["dimUnits"][0])
    return {"type": wh["type"], "name": wh["bname"], "data": w["wData"], "x0": wh["sfB"][0], "dx": wh["sfA"][0],
            "units": units, "xunits": xunits, "note": w["note"]}


def igor_unquote(s):
    assert s[0] == '"' and s[-1] == '"', s
    out, i = [], 1
    while i < len(s) - 1:
        c = s[i]
        if c == "\\":
            i += 1
            out.append({"r": "\r", "n": "\n", "t": "\t"}.get(s[i], s[i]))
        else:
            out.append(c)
        i += 1
    return "".join(out)


def split_commands(line):
    """An X line's commands, split at ';' outside string literals."""
    parts, cur, quoted, esc = [], "", False, False
    for c in line:
        if quoted:
            cur += c
            if esc:
                esc = False
            elif c == "\\":
                esc = True
            elif c == '"':
                quoted = False
        elif c == '"':
            quoted, cur = True, cur + c
        elif c == ";":
            parts.append(cur.strip())
            cur = ""
        else:
            cur += c
    return parts + ([cur.strip()] if cur.strip() else [])


SPECIAL = {"NaN": math.nan, "INF": math.inf, "-INF": -math.inf}


def number(text):
    return SPECIAL[text] if text in SPECIAL else float(text)


def itx_read(path):
    lines = open(path, "rb").read().decode("latin-1").split("\n")
    check(lines[0] == "IGOR", path + ": first line")
    waves, i = {}, 1
    while i < len(lines):
        line = lines[i]
        m = re.fullmatch(r"WAVES/([SDT])/O (\w+)", line)
        if m:
            kind, name = m.groups()
            check(lines[i + 1] == "BEGIN", path + ": BEGIN")
            j = i + 2
            while lines[j] != "END":
                j += 1
            values = [v.strip() for v in lines[i + 2:j]]
            waves[name] = {"kind": kind, "values": values, "note": "", "x0": 0.0, "dx": 1.0, "units": "",
                           "xunits": ""}
            i = j + 1
            continue
        if line.startswith("X "):
            for cmd in split_commands(line[2:]):
                m = re.fullmatch(r'SetScale/P x ([^,]+),([^,]+),("(?:[^"\\]|\\.)*"), (\w+)', cmd)
                if m:
                    w = waves[m.group(4)]
                    w["x0"], w["dx"], w["xunits"] = float(m.group(1)), float(m.group(2)), igor_unquote(m.group(3))
                    continue
                m = re.fullmatch(r'SetScale d 0,0,("(?:[^"\\]|\\.)*"), (\w+)', cmd)
                if m:
                    waves[m.group(2)]["units"] = igor_unquote(m.group(1))
                    continue
                m = re.fullmatch(r'Note(/K|/NOCR) (\w+), ("(?:[^"\\]|\\.)*")', cmd)
                if m:
                    w = waves[m.group(2)]
                    w["note"] = (w["note"] if m.group(1) == "/NOCR" else "") + igor_unquote(m.group(3))
                    continue
                check(False, "%s: unknown command %r" % (path, cmd))
        elif line:
            check(False, "%s: line %d not understood: %r" % (path, i + 1, line[:80]))
        i += 1
    return waves


def csv_read(path):
    with open(path, newline="", encoding="latin-1") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


# ---- inputs -----------------------------------------------------------------

work = opts.work
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
PRESETS = ["default", "step-protocol", "variable-events", "fixed-events", "oscilloscope", "float32-episodic",
           "abf1-episodic", "abf1-events", "channels-16", "long-episode", "tag-types"]
inputs = []  # (path, real)
for preset in PRESETS:
    path = os.path.join(work, "gen-%s.abf" % preset)
    p = run(opts.abfgen, "--preset", preset, native(path))
    if check(p.returncode == 0, "abfgen --preset %s" % preset):
        inputs.append((path, False))
real_dir = os.path.join(opts.shared, "data", "abf") if opts.shared else ""
if real_dir and os.path.isdir(real_dir):
    inputs += [(p, True) for p in sorted(glob.glob(os.path.join(real_dir, "*.abf")))]
else:
    print("left out (real recordings): %s is not there" % (real_dir or "KAV_SHARED_DIR is not set"))


def has_data(path):
    """Whether the vendor library opened a real recording and found episodes in it
    (its recorded answers); a recording without answers is taken to have data."""
    golden = os.path.join(opts.shared, "data", "golden", os.path.splitext(os.path.basename(path))[0] + ".json")
    if not os.path.exists(golden):
        return True
    g = json.load(open(golden))
    return bool(g.get("ord110", {}).get("ok")) and bool(g.get("episodes"))


promised = sum(1 for path, real in inputs if not real or has_data(path))

NAME = re.compile(r"[A-Za-z][A-Za-z0-9_]{0,30}")
compared = {"files": 0, "waves": 0, "stimulus": 0, "tags": 0}

for index, (path, real) in enumerate(inputs):
    name = native(path)
    p = run(opts.sorvan, "info", "--json", name)
    try:
        info = json.loads(p.stdout.decode("utf-8"))[0]
    except (ValueError, IndexError):
        check(False, "%s: info --json gave no JSON" % path)
        continue
    if "error" in info or info["episodes"] == 0:
        why = info.get("error", "no episodes")
        check(real and not has_data(path), "%s: sorvan finds no data (%s) where the plug-in reads it" % (path, why))
        check("error" not in info or p.returncode == 1, "%s: info exit %d for an error" % (path, p.returncode))
        print("no data (%s): %s" % (why, os.path.basename(path)))
        continue
    compared["files"] += 1
    gapfree = info["mode"] == 3
    n_ep = info["episodes"]
    quick = real and opts.quick
    channels = [0] if quick else [c["logical"] for c in info["channels"]]
    episodes = [None] if gapfree else sorted({1} if quick else {1, n_ep})
    ep_args = [] if gapfree else ["--episodes", ",".join(map(str, episodes))]
    out = os.path.join(work, "out%03d" % index)
    formats = ["ibw", "itx"] if quick else ["ibw", "itx", "npy", "csv"]
    for fmt in formats:
        sorvan("export", name, "--to", fmt, "--stimulus", *ep_args, "-o", native(os.path.join(out, fmt)))
    if not real:
        sorvan("export", name, "--to", "ibw", "--double", *ep_args, "-o", native(os.path.join(out, "ibwd")))

    ibws = sorted(os.listdir(os.path.join(out, "ibw")))
    stems = set()
    for f in ibws:
        check(f.endswith(".ibw") and NAME.fullmatch(f[:-4]), "%s: wave name %r" % (path, f))
        m = re.fullmatch(r"(.*)_(c\d+|s\d+|tagtime|tagtext)(_e\d+)?\.ibw", f)
        if check(m, "%s: file %r" % (path, f)):
            stems.add(m.group(1))
    if not check(len(stems) == 1, "%s: stems %r" % (path, stems)):
        continue
    stem = stems.pop()
    digits = max(3, len(str(n_ep)))
    itx = itx_read(os.path.join(out, "itx", stem + ".itx"))
    check(sorted(itx) == sorted(f[:-4] for f in ibws), "%s: itx and ibw hold different waves" % path)

    def suffix(e):
        return "" if e is None else "_e%0*d" % (digits, e)

    for c in channels:
        for row, e in enumerate(episodes):
            dump = os.path.join(work, "wave.f32")
            n = info["samples_per_channel"] if gapfree else info["samples_per_episode"][e - 1]
            if gapfree:
                j, data = plugin_wave("kav_AbfChannelRead", [name, c, "wave:f32:%d" % n], 3, dump)
            else:
                j, data = plugin_wave("kav_AbfEpisodeRead", [name, c, e, "wave:f32:%d" % n], 4, dump)
            what = "%s channel %d%s" % (os.path.basename(path), c, suffix(e))
            if not j or not check(j["result"] == 1, what + ": the plug-in did not read it"):
                continue
            ref = j["args"][-1]
            ref_data = np.frombuffer(data, "<f4")
            compared["waves"] += 1
            wave = "%s_c%d%s" % (stem, c, suffix(e))
            check(ref["dataunits"] == info["channels"][c]["units"], what + ": info's units")

            b = ibw_read(os.path.join(out, "ibw", wave + ".ibw"))
            check(b["type"] == 2 and b["name"] == wave.encode(), what + ": ibw type/name")
            check(b["data"].astype("<f4").tobytes() == ref_data.tobytes(), what + ": ibw samples")
            check(b["x0"] == ref["xstart"] and b["dx"] == ref["xstep"], what + ": ibw X scaling")
            check(b["units"] == latin1(ref["dataunits"]) and b["xunits"] == latin1(ref["xunits"]), what + ": ibw units")
            check(b["note"] == latin1(ref["note"]), what + ": ibw note")
            if not real:
                d = ibw_read(os.path.join(out, "ibwd", wave + ".ibw"))
                check(d["type"] == 4 and np.array_equal(d["data"], ref_data.astype(np.float64)),
                      what + ": ibw --double samples")

            t = itx.get(wave)
            if check(t is not None, what + ": not in the itx"):
                vals = np.array([number(v) for v in t["values"]], dtype=np.float64)
                check(t["kind"] == "S" and vals.astype("<f4").tobytes() == ref_data.tobytes(), what + ": itx samples")
                check(t["x0"] == ref["xstart"] and t["dx"] == ref["xstep"], what + ": itx X scaling")
                check(t["units"] == ref["dataunits"] and t["xunits"] == ref["xunits"], what + ": itx units")
                check(t["note"] == ref["note"], what + ": itx note")

            if "npy" in formats:
                a = np.load(os.path.join(out, "npy", "%s_c%d.npy" % (stem, c)))
                check(a.dtype == np.dtype("<f4") and a.shape[0] == len(episodes), what + ": npy shape %r" % (a.shape,))
                check(a[row, :n].tobytes() == ref_data.tobytes() and np.isnan(a[row, n:]).all(), what + ": npy row")
            if "csv" in formats:
                head, rows = csv_read(os.path.join(out, "csv", stem + (".csv" if gapfree else "_c%d.csv" % c)))
                col = head.index("%s (%s)" % (wave, ref["dataunits"]) if ref["dataunits"] else wave)
                vals = np.array([float(r[col]) for r in rows[:n]], dtype=np.float64)
                check(head[0] == "time (s)" and vals.astype("<f4").tobytes() == ref_data.tobytes(),
                      what + ": csv column")
                check(all(float(rows[i][0]) == i * ref["xstep"] for i in (0, 1, n - 1)), what + ": csv time")

            if e is None:
                continue
            # The stimulus: written exactly where the plug-in's waveform read delivers one.
            j, data = plugin_wave("kav_AbfEpisodeWaveform", [name, c, e, "wave:f32:%d" % n], 4, dump)
            if not j:
                continue
            ref = j["args"][-1]
            delivered = ref["xunits"] == "s"
            swave = "%s_s%d%s" % (stem, c, suffix(e))
            sfile = os.path.join(out, "ibw", swave + ".ibw")
            check(os.path.exists(sfile) == delivered, what + ": stimulus written %s, plug-in delivered %s" % (
                os.path.exists(sfile), delivered))
            if delivered and os.path.exists(sfile):
                compared["stimulus"] += 1
                b = ibw_read(sfile)
                check(b["data"].astype("<f4").tobytes() == data and b["dx"] == ref["xstep"]
                      and b["units"] == latin1(ref["dataunits"]) and b["note"] == b"", what + ": stimulus ibw")
                t = itx[swave]
                check(np.array([number(v) for v in t["values"]], dtype="<f4").tobytes() == data
                      and t["units"] == ref["dataunits"], what + ": stimulus itx")

    # Tags: every tag's time and comment, and the time tags as the plug-in reads them.
    tags = info["tags"]
    tfile = os.path.join(out, "ibw", stem + "_tagtime.ibw")
    if check(os.path.exists(tfile) == bool(tags), "%s: tag waves written %s for %d tags" % (
            path, os.path.exists(tfile), len(tags))) and tags:
        compared["tags"] += 1
        times = ibw_read(tfile)["data"]
        texts = binarywave.load(os.path.join(out, "ibw", stem + "_tagtext.ibw"))["wave"]["wData"]
        check(list(times) == [t["time_s"] for t in tags], path + ": tag times")
        check([x.decode("latin-1") for x in texts] == [t["text"] for t in tags], path + ": tag texts")
        check([number(v) for v in itx[stem + "_tagtime"]["values"]] == list(times), path + ": itx tag times")
        j, data = plugin_wave("kav_AbfReadTimeTags", [name, "wave:f64:1"], 2, os.path.join(work, "tags.f64"))
        if j:
            check(list(np.frombuffer(data, "<f8")) == [t["time_s"] for t in tags if t["type"] == "time"],
                  path + ": time tags against kav_AbfReadTimeTags")

print("compared: %d files (of %d with data), %d waves, %d stimulus waves, %d tag lists" % (
    compared["files"], promised, compared["waves"], compared["stimulus"], compared["tags"]))
check(compared["files"] >= promised and compared["waves"] >= compared["files"],
      "compared %d files and %d waves; the inputs have %d files with data" % (compared["files"], compared["waves"],
                                                                            promised))
if failures:
    print("%d failures" % len(failures))
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
print("ok")
