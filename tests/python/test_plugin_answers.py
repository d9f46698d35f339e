"""The package gives the plug-in's answers: for every real recording and every
abfgen preset that is a recording, each channel's float32 samples bit for bit
(the whole channel of a gap-free recording against kav_AbfChannelRead, every
episode of the others against kav_AbfEpisodeRead), the wave notes, the X step,
the stimulus of the first and last episodes (kav_AbfEpisodeWaveform), the time
and external tags (kav_AbfReadTimeTags, kav_AbfReadExternalTags) and the header
against kav_AbfMetaData's string; a file the plug-in cannot read raises
sorvan.Error."""
import math
import os
import re

import numpy as np
import pytest

import sorvan
from conftest import REAL_DIR, VALID_PRESETS, real_files

REAL = real_files()


def number(text):
    return int(text) if re.fullmatch(r"-?\d+", text) else float(text)


def same(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b


def check_header(rec, plugin):
    j, _ = plugin.call("kav_AbfMetaData", rec.path, "@null")
    assert j["result"] == 1
    string = j["args"][1]
    assert rec.header_string() == string
    # The dict is the string's pieces as values: numbers as numbers, texts, lists.
    pieces = rec._header_pieces()
    assert "".join("%s=%s;" % p for p in pieces) == string
    header = rec.header
    assert list(header) == [k for k, _ in pieces], "keys in the string's order, none twice"
    for key, text in pieces:
        value = header[key]
        if isinstance(value, str):
            assert value == text, key
        elif isinstance(value, list) and value and isinstance(value[0], str):
            assert ",".join(value) == text, key
        elif isinstance(value, list):
            assert len(value) == len(text.split(",")) and all(
                same(v, number(t)) for v, t in zip(value, text.split(","))), key
        else:
            assert same(value, number(text)), key


def check_wave(rec, j, data, values, note):
    """The plug-in's wave `j` (its last argument) and bytes against our values."""
    assert j["result"] == 1, j
    wave = j["args"][-1]
    assert values.dtype == np.float32 and values.tobytes() == data
    assert wave["xstep"] == rec.sampling_interval and wave["xstart"] == 0
    assert note is None or wave["note"] == note


def check_gap_free(rec, plugin):
    n = rec.sample_count
    for c in rec.channels:
        values = rec.read(c.index)
        j, data = plugin.call("kav_AbfChannelRead", rec.path, c.index, "wave:f32:%d" % n, wave=3)
        check_wave(rec, j, data, values, rec.note(c.index))
        assert j["args"][-1]["dataunits"] == c.units
        assert np.array_equal(rec.read(c.index, dtype=np.float64), values.astype(np.float64))
        assert np.array_equal(rec.time(), np.arange(n) * j["args"][-1]["xstep"])
        # Ranges across the library's reads are the same samples.
        limit = rec._sample_limit
        for start, stop in ((0, 1), (limit - 1, limit + 1), (n // 3, n - n // 4), (n - 1, n), (5, 5)):
            if 0 <= start <= stop <= n:
                assert rec.read(c.index, start=start, stop=stop).tobytes() == values[start:stop].tobytes()
        assert rec.episodes(c.index).tobytes() == values.tobytes()


def check_episodes(rec, plugin):
    lengths = rec.episode_lengths
    count = len(lengths)
    for c in rec.channels:
        table = rec.episodes(c.index)
        assert table.shape == (count, lengths.max())
        for e in range(1, count + 1):
            n = int(lengths[e - 1])
            values = rec.read(c.index, episode=e)
            j, data = plugin.call("kav_AbfEpisodeRead", rec.path, c.index, e, "wave:f32:%d" % n, wave=4)
            check_wave(rec, j, data, values, rec.note(c.index, e))
            assert table[e - 1, :n].tobytes() == data and np.isnan(table[e - 1, n:]).all()
        for e in sorted({1, count}):
            n = int(lengths[e - 1])
            j, data = plugin.call("kav_AbfEpisodeWaveform", rec.path, c.index, e, "wave:f32:%d" % n, wave=4)
            if j["result"] == 1 and j["args"][-1]["xunits"] == "s":
                assert rec.stimulus(c.index, e).tobytes() == data, "stimulus of episode %d" % e
                assert j["args"][-1]["dataunits"] == c.stimulus_units
            else:
                with pytest.raises(sorvan.Error):
                    rec.stimulus(c.index, e)


def check_tags(rec, plugin):
    tags = rec.tags
    for function, kind in (("kav_AbfReadTimeTags", "time"), ("kav_AbfReadExternalTags", "external")):
        j, data = plugin.call(function, rec.path, "wave:f64:1", wave=2)
        assert j["result"] == 1
        assert list(np.frombuffer(data, "<f8")) == [t.time for t in tags if t.kind == kind]


def check_recording(path, plugin):
    try:
        rec = sorvan.open(path)
    except sorvan.Error as e:
        j, _ = plugin.call("kav_AbfMetaData", path, "@null")
        assert j["result"] == 0, "the plug-in reads what the package refuses: %s" % e
        assert e.number != 0 and e.filename == path
        return "refused"
    with rec:
        check_header(rec, plugin)
        if rec.episode_count:
            (check_gap_free if rec.gap_free else check_episodes)(rec, plugin)
        check_tags(rec, plugin)
    return "read"


@pytest.mark.parametrize("name", VALID_PRESETS)
def test_preset(name, presets, plugin):
    assert check_recording(presets[name], plugin) == "read"


@pytest.mark.skipif(not REAL, reason="the real recordings are not there: %s" % (REAL_DIR or "KAV_SHARED_DIR is not set"))
@pytest.mark.parametrize("path", REAL, ids=[os.path.basename(p) for p in REAL])
def test_real_recording(path, plugin):
    check_recording(path, plugin)
