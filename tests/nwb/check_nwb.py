#!/usr/bin/python3
"""sorvan export --to nwb and sorvan.Recording.to_nwb, read back with h5py.

Every file runs the fourteen checks of the NWB design note (nwb_checks below:
several are mistakes the usual validator lets through and its reader then
refuses) and is compared with the recording as the Python package reads it,
which gives the plug-in's float32 samples bit for bit (tests/python): every
series' data equal to the plug-in's wave, `data x conversion + offset` in float32
equal to the plug-in's value times the unit's scale in float32, the stimulus
where the library computes one and (-1, -1) where not, classes by units, times,
rates, gains, sweep numbers, the icephys tables, the tags, the session times and
their UTC offsets (TZ set for the export).

Inputs: abfgen's presets that are recordings (every operation mode), a gap-free
recording longer than one of the writer's pieces, and every real recording in
KAV_SHARED_DIR/data/abf (left out, saying so, when absent). Every one that the
vendor library opened with data must be exported and checked; abfgen's malformed
presets must each be exported and checked or refused with one message and
nothing left behind.

Run with Debian's /usr/bin/python3 (python3-h5py, python3-numpy) and the build's
Python package on PYTHONPATH."""
import argparse, datetime, glob, json, os, re, shutil, subprocess, sys

import h5py
import numpy as np

import sorvan

ap = argparse.ArgumentParser()
for name in ("--sorvan", "--abfgen", "--work"):
    ap.add_argument(name, required=True)
ap.add_argument("--shared", default=os.environ.get("KAV_SHARED_DIR", ""))
opts = ap.parse_args()

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)
    return cond


def run(*args, tz="UTC"):
    env = dict(os.environ, TZ=tz)
    return subprocess.run([str(a) for a in args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                          timeout=300)


# ---- the fourteen checks ------------------------------------------------------------

UUID = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
DATE = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$")
HDMF = {"VectorData", "VectorIndex", "ElementIdentifiers", "DynamicTableRegion", "DynamicTable"}
RESPONSE = {"CurrentClampSeries": "volts", "VoltageClampSeries": "amperes", "IZeroClampSeries": "volts",
            "PatchClampSeries": None}
STIMULUS = {"CurrentClampStimulusSeries": "amperes", "VoltageClampStimulusSeries": "volts", "PatchClampSeries": None}
FIXED = {"IntracellularRecordingsTable": "A table to group together a stimulus and response from a single electrode "
         "and a single simultaneous recording and for storing metadata about the intracellular recording.",
         "IntracellularElectrodesTable": "Table for storing intracellular electrode related metadata.",
         "IntracellularStimuliTable": "Table for storing intracellular stimulus related metadata.",
         "IntracellularResponsesTable": "Table for storing intracellular response related metadata."}
COMPENSATION = ["capacitance_fast", "capacitance_slow", "whole_cell_capacitance_comp",
                "whole_cell_series_resistance_comp", "resistance_comp_bandwidth", "resistance_comp_correction",
                "resistance_comp_prediction"]
REGION_TARGET = {("SimultaneousRecordingsTable", "recordings"): "IntracellularRecordingsTable",
                 ("SequentialRecordingsTable", "simultaneous_recordings"): "SimultaneousRecordingsTable",
                 ("RepetitionsTable", "sequential_recordings"): "SequentialRecordingsTable",
                 ("ExperimentalConditionsTable", "repetitions"): "RepetitionsTable"}


def text(v):
    return v.decode("utf-8") if isinstance(v, bytes) else v


def scalar_text_attr(obj, name):
    """The attribute's value when it is a scalar string, else None."""
    if name not in obj.attrs:
        return None
    a = h5py.h5a.open(obj.id, name.encode())
    if a.get_space().get_simple_extent_type() != h5py.h5s.SCALAR or a.get_type().get_class() != h5py.h5t.STRING:
        return None
    return text(obj.attrs[name])


def ntype(obj):
    return text(obj.attrs.get("neurodata_type")) if obj is not None else None


def address(obj):
    return h5py.h5o.get_info(obj.id).addr


def paths(f, *groups):
    """{object address: path} of the members of the groups (h5py's .name of an object reached
    through a reference searches the whole file)."""
    return {address(g[k]): "%s/%s" % (g.name, k) for g in (f[n] for n in groups) for k in g}


def deref(f, ref):
    try:
        return f[ref] if ref else None
    except (ValueError, KeyError):
        return None


def nwb_checks(path):
    """The design note's checks 1-14 over one file; returns how many objects were checked."""
    f = h5py.File(path, "r")
    where = os.path.basename(path) + ": "
    # 1. Root attributes.
    check(scalar_text_attr(f, "nwb_version") == "2.7.0", where + "1: nwb_version")
    check(scalar_text_attr(f, "neurodata_type") == "NWBFile", where + "1: NWBFile")
    check(scalar_text_attr(f, "namespace") == "core", where + "1: namespace")
    check(UUID.match(scalar_text_attr(f, "object_id") or ""), where + "1: object_id")
    # 2. Root datasets and dates.
    for name in ("identifier", "session_description", "session_start_time", "timestamps_reference_time",
                 "file_create_date"):
        check(name in f and isinstance(f[name], h5py.Dataset), where + "2: " + name)
    for name in ("session_start_time", "timestamps_reference_time"):
        check(f[name].shape == () and DATE.match(text(f[name][()])), where + "2: %s %r" % (name, f[name][()]))
    check(f["file_create_date"].ndim == 1 and len(f["file_create_date"]) >= 1 and
          all(DATE.match(text(d)) for d in f["file_create_date"][()]), where + "2: file_create_date")
    # 3. Required groups.
    for g in ("acquisition", "analysis", "processing", "stimulus/presentation", "stimulus/templates", "general"):
        check(isinstance(f.get(g), h5py.Group), where + "3: /" + g)

    typed, ids = [], set()

    def visit(name, obj):
        if "neurodata_type" in obj.attrs:
            typed.append((name, obj))

    f.visititems(visit)
    # 4. Typed objects: the three attributes, scalar strings, namespaces right,
    # object ids unique; the children of the three groups all typed.
    for g in ("acquisition", "stimulus/presentation", "general/devices"):
        for k in f[g]:
            check("neurodata_type" in f[g][k].attrs, where + "4: /%s/%s untyped" % (g, k))
    for name, obj in typed:
        t, ns, oid = (scalar_text_attr(obj, a) for a in ("neurodata_type", "namespace", "object_id"))
        check(t and ns and oid and UUID.match(oid), where + "4: /%s: type attributes" % name)
        check(ns == ("hdmf-common" if t in HDMF else "core"), where + "4: /%s: namespace %r" % (name, ns))
        check(oid not in ids, where + "4: /%s: object_id repeated" % name)
        ids.add(oid)
        # 5. One hard link each.
        check(h5py.h5o.get_info(obj.id).rc == 1, where + "5: /%s has more than one hard link" % name)
    for name, obj in typed:
        t = ntype(obj)
        links = {"IntracellularElectrode": [("device", "Device")]}.get(
            t, [("electrode", "IntracellularElectrode")] if t in RESPONSE or t in STIMULUS else [])
        for link, want in links:
            if check(link in obj, where + "5: /%s/%s missing" % (name, link)):
                lk = obj.get(link, getlink=True)
                check(isinstance(lk, h5py.SoftLink) and ntype(obj.get(link)) == want,
                      where + "5: /%s/%s is not a soft link to a %s" % (name, link, want))
        # 6. Patch-clamp series.
        if t in RESPONSE or t in STIMULUS:
            fixed = RESPONSE.get(t) or STIMULUS.get(t)
            unit = scalar_text_attr(obj["data"], "unit")
            check(unit is not None and (fixed is None or unit == fixed), where + "6: /%s unit %r" % (name, unit))
            if "starting_time" in obj:
                st = obj["starting_time"]
                check(st.attrs.get("rate", 0) > 0 and scalar_text_attr(st, "unit") == "seconds",
                      where + "6: /%s starting_time" % name)
            else:
                check("timestamps" in obj, where + "6: /%s: no time" % name)
            check("gain" in obj and scalar_text_attr(obj, "stimulus_description") is not None,
                  where + "6: /%s gain, stimulus_description" % name)
            sw = obj.attrs.get("sweep_number")
            check(sw is not None and np.asarray(sw).dtype.kind == "u", where + "6: /%s sweep_number" % name)
        # 7. IZero's zeros; compensation units.
        if t == "IZeroClampSeries":
            for d in ("bias_current", "bridge_balance", "capacitance_compensation"):
                check(d in obj and obj[d][()] == 0.0, where + "7: /%s/%s" % (name, d))
            check(scalar_text_attr(obj, "stimulus_description") == "N/A", where + "13: /%s N/A" % name)
        if t == "VoltageClampSeries":
            for d in COMPENSATION:
                if d in obj:
                    check(scalar_text_attr(obj[d], "unit") is not None, where + "7: /%s/%s unit" % (name, d))
        # 8. Tables: columns, ids, ragged indexes.
        if isinstance(obj, h5py.Group) and "colnames" in obj.attrs:
            check("id" in obj and obj["id"].dtype.kind == "i", where + "8: /%s id" % name)
            rows = len(obj["id"])
            for col in (text(c) for c in obj.attrs["colnames"]):
                if not check(col in obj, where + "8: /%s: column %s missing" % (name, col)):
                    continue
                if col + "_index" in obj:
                    idx = obj[col + "_index"]
                    v = idx[()]
                    check(len(v) == rows and np.all(np.diff(v.astype(np.int64)) >= 0) and
                          (len(v) == 0 or v[-1] == len(obj[col])) and v.dtype.kind == "u",
                          where + "8: /%s/%s_index" % (name, col))
                    check(deref(f, idx.attrs.get("target")) == obj[col], where + "8: /%s/%s_index target" % (name, col))
                else:
                    check(len(obj[col]) == rows, where + "8: /%s/%s length" % (name, col))
                # 9. Regions into the table below.
                c = obj[col]
                if ntype(c) == "DynamicTableRegion":
                    target = deref(f, c.attrs.get("table"))
                    want = REGION_TARGET.get((t, col))
                    check(target is not None and (want is None or ntype(target) == want),
                          where + "9: /%s/%s table" % (name, col))
                    if target is not None:
                        v = c[()]
                        check(np.all((v >= 0) & (v < len(target["id"]))), where + "9: /%s/%s rows" % (name, col))
        # 10. Categories of an aligned table.
        if "categories" in obj.attrs:
            cats = [text(c) for c in obj.attrs["categories"]]
            subs = sorted(k for k in obj if isinstance(obj[k], h5py.Group))
            check(sorted(cats) == subs, where + "10: /%s categories %r, subgroups %r" % (name, cats, subs))
            for c in cats:
                if c in obj:
                    check(len(obj[c]["id"]) == len(obj["id"]), where + "10: /%s/%s rows" % (name, c))
        # 13. Fixed descriptions.
        if t in FIXED:
            check(scalar_text_attr(obj, "description") == FIXED[t], where + "13: /%s description" % name)
    # 11. Stimulus and response columns.
    rec = f.get("general/intracellular_ephys/intracellular_recordings")
    if rec is not None:
        stim, resp = rec["stimuli/stimulus"], rec["responses/response"]
        electrodes = rec["electrodes/electrode"][()]
        where_is = paths(f, "acquisition", "stimulus/presentation")
        for col in (stim, resp):
            dt = col.dtype
            check(dt.names == ("idx_start", "count", "timeseries") and dt["idx_start"] == np.dtype("<i4") and
                  dt["count"] == np.dtype("<i4") and h5py.check_ref_dtype(dt["timeseries"]) is h5py.Reference,
                  where + "11: compound members of %s" % col.name)
        for i, (s, r) in enumerate(zip(stim[()], resp[()])):
            check(not (s[0] == -1 and s[1] == -1 and r[0] == -1 and r[1] == -1), where + "11: row %d empty" % i)
            series = {}
            for side, (start, count, ref), kinds, folder in (("stimulus", s, STIMULUS, "/stimulus/presentation/"),
                                                            ("response", r, RESPONSE, "/acquisition/")):
                ts = deref(f, ref)
                if not check(ts is not None, where + "11: row %d %s reference" % (i, side)):
                    continue
                if start == -1 and count == -1:
                    continue
                at = where_is.get(address(ts), "")
                check(ntype(ts) in kinds and at.startswith(folder),
                      where + "11: row %d %s is a %s at %s" % (i, side, ntype(ts), at))
                check(start >= 0 and count >= 0 and start + count <= len(ts["data"]),
                      where + "11: row %d %s slice" % (i, side))
                series[side] = ts
                check(deref(f, electrodes[i]) == ts.get("electrode"), where + "11: row %d %s electrode" % (i, side))
            if len(series) == 2:
                check(series["stimulus"].attrs["sweep_number"] == series["response"].attrs["sweep_number"],
                      where + "11: row %d sweep numbers" % i)
    # 12. The schema cache, where there is one.
    if ".specloc" in f.attrs:
        spec = deref(f, f.attrs[".specloc"])
        check(spec is not None and "core/%s/namespace" % text(f.attrs["nwb_version"]) in spec, where + "12: .specloc")

    # 14. Every text is UTF-8, without surrogates.
    def utf8(v, what):
        for s in np.asarray(v, dtype=object).ravel() if not isinstance(v, (str, bytes)) else [v]:
            if isinstance(s, bytes):
                try:
                    s = s.decode("utf-8")
                except UnicodeDecodeError:
                    check(False, where + "14: %s is not UTF-8" % what)
                    continue
            if isinstance(s, str):
                check(not any(0xD800 <= ord(c) <= 0xDFFF for c in s), where + "14: %s has surrogates" % what)

    def texts(name, obj):
        for k in obj.attrs:
            a = h5py.h5a.open(obj.id, k.encode())
            if a.get_type().get_class() == h5py.h5t.STRING:
                utf8(obj.attrs[k], "/%s@%s" % (name, k))
        if isinstance(obj, h5py.Dataset) and obj.dtype.kind == "O" and h5py.check_string_dtype(obj.dtype):
            utf8(obj[()], "/" + name)

    texts("", f)
    f.visititems(texts)
    f.close()
    return len(typed)


# ---- what the recording says ----------------------------------------------------

VOLTS = {"V": 1.0, "mV": 1e-3, "uV": 1e-6, "\u00b5V": 1e-6, "nV": 1e-9}
AMPERES = {"A": 1.0, "mA": 1e-3, "uA": 1e-6, "\u00b5A": 1e-6, "nA": 1e-9, "pA": 1e-12, "fA": 1e-15}


def classify(units, stimulus=False):
    """(class, SI unit or None, scale) of a channel's units."""
    if units in VOLTS:
        return ("VoltageClampStimulusSeries" if stimulus else "CurrentClampSeries"), "volts", VOLTS[units]
    if units in AMPERES:
        return ("CurrentClampStimulusSeries" if stimulus else "VoltageClampSeries"), "amperes", AMPERES[units]
    return "PatchClampSeries", None, 1.0


def cp1252(s):
    """A header text (the package gives its bytes as Latin-1) as code page 1252 reads it; the five
    bytes 1252 leaves undefined stay the control characters of the same value."""
    return "".join(chr(b) if 0x80 <= b < 0xA0 and b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252")
                   for b in s.encode("latin-1"))


def same_bits(a, b):
    a, b = np.asarray(a, np.float32), np.asarray(b, np.float32)
    return a.shape == b.shape and np.array_equal(a.view(np.uint32), b.view(np.uint32))


def header_gain(h, adc):
    """Volts at the digitizer per channel unit from the header's catalogue, and the relative
    error its texts allow (they round to six decimals)."""
    at = lambda key: h[key][adc] if adc < len(h[key]) else 0.0
    factors = [at("fInstrumentScaleFactor"), at("fADCProgrammableGain")]
    if h["nSignalType"]:
        factors.append(at("fSignalGain"))
    if at("nTelegraphEnable"):
        factors.append(at("fTelegraphAdditGain"))
    g = float(np.prod(factors))
    return g, (sum(5e-7 / abs(x) for x in factors) if g else 0.0) + 1e-6


def close(a, b, rel):
    return abs(a - b) <= rel * max(abs(a), abs(b))


def value_checks(path, rec, channels=None, episodes=None, offset="+00:00", offset_given=False):
    """The file against the recording: series, values, stimulus, tables, tags, times. Returns
    (series, samples) compared."""
    f = h5py.File(path, "r")
    where = os.path.basename(path) + ": "
    chans = [rec.channels[c] for c in (channels if channels is not None else range(len(rec.channels)))]
    eps = [None] if rec.gap_free else list(episodes or range(1, rec.episode_count + 1))
    digits = max(4, len(str(rec.episode_count)))
    header = rec.header
    compared = [0, 0]

    # The session: times, offset and where it came from, descriptions.
    start = rec.start_time
    notes = text(f["general/notes"][()])
    sst = text(f["session_start_time"][()])
    if start is not None and 1900 <= start.year:
        check(sst == start.strftime("%Y-%m-%dT%H:%M:%S.") + "%03d" % (start.microsecond // 1000) + offset,
              where + "session_start_time %s, expected %s%s" % (sst, start, offset))
        check(("offset %s was given" % offset if offset_given else "UTC offset %s is that of the time zone" % offset)
              in notes, where + "the notes do not say where the offset came from: " + notes)
    else:
        check(sst.endswith(offset) and "holds no valid start" in notes, where + "no valid start: %s, %s" % (sst, notes))
    check(text(f["timestamps_reference_time"][()]) == sst, where + "timestamps_reference_time")
    check(text(f["session_description"][()]).startswith(cp1252(os.path.basename(rec.path))),
          where + "session_description")
    if rec.comment:
        check("File comment: " + cp1252(rec.comment) in notes, where + "the file comment")
    check(len(f["general/devices"]) == len(chans) and
          len([k for k in f["general/intracellular_ephys"] if k.startswith("electrode_")]) == len(chans),
          where + "one device and one electrode a channel")

    acquisition = {k for k in f["acquisition"] if k != "tags"}
    presentation = set(f["stimulus/presentation"])
    expected_acq, expected_stim = set(), set()
    rows = []  # (response name, stimulus name or None, electrode) in table order
    for e in eps:
        for ch in chans:
            cls, unit, scale = classify(ch.units)
            name = "%s_AD%d" % (cls, ch.adc) if e is None else "%s_sweep%0*d_AD%d" % (cls, digits, e, ch.adc)
            expected_acq.add(name)
            s = f["acquisition"].get(name)
            if not check(s is not None, where + "series %s missing" % name):
                continue
            plug = rec.read(ch.index) if e is None else rec.read(ch.index, episode=e)
            d = s["data"]
            data = d[()]
            conv, off = d.attrs["conversion"], d.attrs["offset"]
            check(data.dtype == np.float32 and same_bits(data, plug), where + name + ": samples differ")
            # Bit for bit after the conversion in float32: data x conversion + offset is the
            # plug-in's value times the unit's scale (in float32).
            check(conv.dtype == np.float32 and conv == np.float32(scale) and off == 0, where + name + ": conversion")
            check(same_bits(data * conv + off, plug * np.float32(scale)), where + name + ": converted values differ")
            check((unit or cp1252(ch.units)) == text(d.attrs["unit"]), where + name + ": unit")
            st = s["starting_time"]
            t0 = 0.0 if e is None else rec.episode_start(ch.index, e)
            check(st[()] == t0 and st.attrs["rate"] == 1.0 / rec.sampling_interval, where + name + ": timing")
            check(s.attrs["sweep_number"] == (1 if e is None else e), where + name + ": sweep_number")
            g, rel = header_gain(header, ch.adc)
            check(close(float(s["gain"][()]), g / scale if g else 1.0, rel), where + name + ": gain %r, header %r" %
                  (s["gain"][()], g))
            step = abs(header["fADCRange"] / (g or 1.0) / (header["lADCResolution"] or 32768) * scale)
            check(close(float(d.attrs["resolution"]), -1.0 if header["nDataFormat"] == 1 else step, rel),
                  where + name + ": resolution %r, header %r" % (d.attrs["resolution"], step))
            electrode = s.get("electrode")
            filt = header["fTelegraphFilter"][ch.adc] if header["nTelegraphEnable"][ch.adc] else 0
            check(("filtering" in electrode) == (filt > 0), where + name + ": the electrode's filtering")
            compared[0] += 1
            compared[1] += len(plug)

            stim_name = None
            if e is not None:
                try:
                    wave = rec.stimulus(ch.index, e)
                except sorvan.Error:
                    wave = None
                scls, sunit, sscale = classify(ch.stimulus_units, stimulus=True)
                candidate = "%s_sweep%0*d_DA%d" % (scls, digits, e, ch.adc)
                if wave is not None:
                    stim_name = candidate
                    expected_stim.add(candidate)
                    t = f["stimulus/presentation"].get(candidate)
                    if check(t is not None, where + "stimulus %s missing" % candidate):
                        sd = t["data"]
                        check(same_bits(sd[()], wave) and sd.attrs["conversion"] == np.float32(sscale) and
                              (sunit or cp1252(ch.stimulus_units)) == text(sd.attrs["unit"]),
                              where + candidate + ": stimulus differs")
                        check(t["starting_time"][()] == t0 and t.attrs["sweep_number"] == e, where + candidate)
                        compared[0] += 1
            rows.append((name, stim_name, "/general/intracellular_ephys/electrode_AD%d" % ch.adc))
    check(acquisition == expected_acq, where + "acquisition holds %d series, expected %d" % (len(acquisition),
                                                                                             len(expected_acq)))
    check(presentation == expected_stim, where + "stimulus/presentation: %r" % sorted(presentation ^ expected_stim))

    # The tables: a row per channel and episode, the channels of an episode together, one sequence.
    ir = f["general/intracellular_ephys/intracellular_recordings"]
    stim, resp = ir["stimuli/stimulus"][()], ir["responses/response"][()]
    elec = ir["electrodes/electrode"][()]
    where_is = paths(f, "acquisition", "stimulus/presentation", "general/intracellular_ephys")
    at = lambda ref: where_is.get(address(f[ref]))
    if check(len(resp) == len(rows), where + "%d table rows, expected %d" % (len(resp), len(rows))):
        for i, (rname, sname, ename) in enumerate(rows):
            r, s = resp[i], stim[i]
            check(at(r[2]) == "/acquisition/" + rname and r[0] == 0 and r[1] == len(f[r[2]]["data"]),
                  where + "row %d response" % i)
            if sname:
                check(at(s[2]) == "/stimulus/presentation/" + sname and s[0] == 0 and s[1] == len(f[s[2]]["data"]),
                      where + "row %d stimulus" % i)
            else:
                check(s[0] == -1 and s[1] == -1 and at(s[2]) == "/acquisition/" + rname,
                      where + "row %d: no stimulus is (-1, -1, the response)" % i)
            check(at(elec[i]) == ename, where + "row %d electrode" % i)
    sim = f["general/intracellular_ephys/simultaneous_recordings"]
    per = len(chans)
    check(list(sim["recordings"][()]) == list(range(len(rows))) and
          list(sim["recordings_index"][()]) == [per * (k + 1) for k in range(len(eps))],
          where + "simultaneous_recordings")
    seq = f["general/intracellular_ephys/sequential_recordings"]
    protocol = os.path.splitext(re.split(r"[\\/]", rec.protocol)[-1])[0]
    check(list(seq["simultaneous_recordings"][()]) == list(range(len(eps))) and
          list(seq["simultaneous_recordings_index"][()]) == [len(eps)] and
          text(seq["stimulus_type"][0]) == (cp1252(protocol) if protocol else rec.mode_name),
          where + "sequential_recordings")

    # Tags: comments at their times.
    tags = rec.tags
    if check(("tags" in f["acquisition"]) == bool(tags), where + "tags"):
        if tags:
            a = f["acquisition/tags"]
            check([text(x) for x in a["data"][()]] == [cp1252(t.comment) for t in tags] and
                  list(a["timestamps"][()]) == [t.time for t in tags], where + "tag comments and times")
    f.close()
    return compared


# ---- the inputs -----------------------------------------------------------------------

work = opts.work
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
gen = os.path.join(work, "gen")
os.makedirs(gen)
listed = [line.split(None, 1) for line in run(opts.abfgen, "--list-presets").stdout.decode().splitlines() if line]
# (but the one of 800 MB)
valid = [name for name, what in listed if not what.startswith("[malformed]") and name != "large-gapfree"]
malformed = [name for name, what in listed if what.startswith("[malformed]")]
inputs = []
for p in valid:
    path = os.path.join(gen, "gen-%s.abf" % p)
    if check(run(opts.abfgen, "--preset", p, path).returncode == 0, "abfgen --preset " + p):
        inputs.append(path)
# Longer than one piece of the gap-free writer (2^20 samples), not a multiple of it; and
# the dates of the time-zone checks.
for name, args in (("gen-pieces.abf", ["--samples", "2500001", "--channels", "2"]),
                   ("gen-summer.abf", ["--date", "20230715", "--time", "23:30:00.250"]),
                   ("gen-winter.abf", ["--date", "20230115", "--time", "00:15:00"])):
    path = os.path.join(gen, name)
    if check(run(opts.abfgen, *args, path).returncode == 0, "abfgen " + name):
        inputs.append(path)
real_dir = os.path.join(opts.shared, "data", "abf") if opts.shared else ""
real = sorted(glob.glob(os.path.join(real_dir, "*.abf"))) if real_dir and os.path.isdir(real_dir) else []
if not real:
    print("left out (real recordings): %s is not there" % (real_dir or "KAV_SHARED_DIR is not set"))


def has_data(path):
    """Whether the vendor library opened a real recording and found episodes in it."""
    golden = os.path.join(opts.shared, "data", "golden", os.path.splitext(os.path.basename(path))[0] + ".json")
    if not os.path.exists(golden):
        return True
    g = json.load(open(golden))
    return bool(g.get("ord110", {}).get("ok")) and bool(g.get("episodes"))


promised = inputs + [p for p in real if has_data(p)]

# ---- sorvan export --to nwb, everything in one run ---------------------------------------

out = os.path.join(work, "out")
p = run(opts.sorvan, "export", *promised, "--to", "nwb", "-o", out)
check(p.returncode == 0 and not p.stderr, "sorvan export --to nwb: exit %d: %s" % (p.returncode, p.stderr.decode()[-600:]))
checked, objects, series, samples = 0, 0, 0, 0
for path in promised:
    nwb = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ".nwb")
    if not check(os.path.exists(nwb), "%s: no NWB file" % path):
        continue
    objects += nwb_checks(nwb)
    with sorvan.open(path) as rec:
        s, n = value_checks(nwb, rec)
    series += s
    samples += n
    checked += 1
check(sorted(os.listdir(out)) == sorted(os.path.splitext(os.path.basename(p))[0] + ".nwb" for p in promised),
      "the output folder holds other files: %r" % sorted(os.listdir(out)))

# ---- choices, offsets, the Python package -----------------------------------------------

steps = os.path.join(gen, "gen-step-protocol.abf")
CASES = [
    # what, sorvan arguments or a to_nwb call, input, channels, episodes, TZ, expected offset, given
    ("channels and episodes", ["--channel", "1", "--episodes", "2,4"], steps, [1], [2, 4], "UTC", "+00:00", False),
    ("summer in Berlin", [], os.path.join(gen, "gen-summer.abf"), None, None, "Europe/Berlin", "+02:00", False),
    ("winter in Berlin", [], os.path.join(gen, "gen-winter.abf"), None, None, "Europe/Berlin", "+01:00", False),
    ("offset given", ["--utc-offset", "-05:30"], os.path.join(gen, "gen-summer.abf"), None, None, "Europe/Berlin",
     "-05:30", True),
    ("Z", ["--utc-offset", "Z"], steps, None, None, "Asia/Tokyo", "+00:00", True),
    ("Python, gap-free", dict(utc_offset=datetime.timedelta(hours=-3)), os.path.join(gen, "gen-pieces.abf"), None,
     None, "UTC", "-03:00", True),
    ("Python, choices", dict(channels=[0], episodes=[3], utc_offset="+05:45"), steps, [0], [3], "UTC", "+05:45",
     True),
    ("Python, the machine's zone", dict(), os.path.join(gen, "gen-winter.abf"), None, None, "UTC", "+00:00", False),
]
for i, (what, how, path, chans, eps, tz, offset, given) in enumerate(CASES):
    folder = os.path.join(work, "case%d" % i)
    nwb = os.path.join(folder, os.path.splitext(os.path.basename(path))[0] + ".nwb")
    if isinstance(how, dict):
        os.makedirs(folder)
        os.environ["TZ"] = tz
        with sorvan.open(path) as rec:
            check(rec.to_nwb(nwb, **how) == nwb, what + ": to_nwb's result")
        check(os.listdir(folder) == [os.path.basename(nwb)], what + ": %r left" % os.listdir(folder))
    else:
        p = run(opts.sorvan, "export", path, "--to", "nwb", *how, "-o", folder, tz=tz)
        check(p.returncode == 0, "%s: exit %d %s" % (what, p.returncode, p.stderr.decode()))
    if check(os.path.exists(nwb), what + ": no file"):
        nwb_checks(nwb)
        with sorvan.open(path) as rec:
            value_checks(nwb, rec, chans, eps, offset, given)
os.environ["TZ"] = "UTC"

# The package's refusals: nothing written, the folder as it was.
folder = os.path.join(work, "python-refused")
os.makedirs(folder)
with sorvan.open(steps) as rec:
    for kw, err in ((dict(channels=[7]), sorvan.Error), (dict(episodes=[99]), sorvan.Error),
                    (dict(utc_offset="+1:00"), ValueError), (dict(utc_offset=1.5), TypeError),
                    (dict(episodes=[]), ValueError)):
        try:
            rec.to_nwb(os.path.join(folder, "x.nwb"), **kw)
            check(False, "to_nwb(%r) wrote a file" % kw)
        except err:
            pass
    try:
        rec.to_nwb(os.path.join(folder, "missing", "x.nwb"))
        check(False, "to_nwb into a missing folder")
    except sorvan.Error as e:
        check("missing" in str(e), "to_nwb into a missing folder: %s" % e)
check(os.listdir(folder) == [], "to_nwb's refusals left %r" % os.listdir(folder))

# ---- the malformed presets: checked, or refused with one line and nothing left ----------

refused = 0
for preset in malformed:
    path = os.path.join(gen, "bad-%s.abf" % preset)
    if not check(run(opts.abfgen, "--preset", preset, path).returncode == 0, "abfgen --preset " + preset):
        continue
    folder = os.path.join(work, "bad", preset)
    p = run(opts.sorvan, "export", path, "--to", "nwb", "-o", folder)
    left = os.listdir(folder) if os.path.isdir(folder) else []
    said = [l for l in p.stderr.decode("latin-1").splitlines() if l.strip()]
    if p.returncode == 0:
        check(len(left) == 1, "%s: exported, folder holds %r" % (preset, left))
        nwb_checks(os.path.join(folder, left[0]))
        with sorvan.open(path) as rec:
            value_checks(os.path.join(folder, left[0]), rec)
    else:
        refused += 1
        check(p.returncode == 1 and len(said) == 1 and not left,
              "%s: exit %d, %r, left %r" % (preset, p.returncode, said, left))

print("%d recordings exported and checked (%d promised: %d of abfgen, %d real), %d typed objects, %d series, "
      "%d samples; %d cases of choices and offsets; %d malformed presets, %d refused"
      % (checked, len(promised), len(inputs), len(promised) - len(inputs), objects, series, samples, len(CASES),
         len(malformed), refused))
check(checked == len(promised), "fewer recordings checked than promised")
if failures:
    print("%d failures" % len(failures))
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
print("ok")
