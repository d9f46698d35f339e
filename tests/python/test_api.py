"""The package's own behaviour on generated recordings: reads of ranges, episodes
and lazy views agree with the whole read; pickling, closing, errors, threads, the
values of the header, and the stub and docstrings that describe it all."""
import ast
import datetime
import os
import pickle
import pydoc
import threading

import numpy as np
import pytest

import sorvan
from conftest import abfgen


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("api")
    return {
        # 3 channels of 100 000 samples: reads of 16384, the last one shorter.
        "gapfree": abfgen(d / "gapfree.abf", "--channels", "3", "--samples", "100000", "--date", "20191231",
                          "--time", "23:59:58.250", "--protocol", "C:\\protocols\\gapfree.pro", "--creator", "abfgen"),
        "episodic": abfgen(d / "episodic.abf", "--mode", "episodic", "--channels", "2", "--episodes", "4",
                           "--episode-samples", "3000"),
        "events": abfgen(d / "events.abf", "--mode", "variable", "--episode-lengths", "100,2500,40"),
        "bad-date": abfgen(d / "bad-date.abf", "--date", "20191301", "--samples", "1000"),
        "not-abf": str(d / "not-abf.abf"),
    }


@pytest.fixture(scope="module", autouse=True)
def not_abf(files):
    with open(files["not-abf"], "wb") as f:
        f.write(b"ATF\t1.0\n" + b"0" * 2000)


def test_ranges_count_as_slices_do(files):
    """Python's slice rules over the reader's ranges (which tests/reader checks)."""
    with sorvan.open(files["gapfree"]) as rec:
        whole = rec.read(1)
        assert len(whole) == rec.sample_count == 100000 and rec.gap_free
        for start, stop in [(-10, None), (None, -99990), (50000, 40000), (100000, None)]:
            assert np.array_equal(rec.read(1, start=start, stop=stop), whole[start:stop]), (start, stop)
            assert len(rec.time(start=start, stop=stop)) == len(whole[start:stop])
        assert np.array_equal(rec.read(1, start=16000, stop=17000, dtype=np.float64),
                              whole[16000:17000].astype(np.float64))
        assert np.array_equal(rec.time(start=10, stop=13), np.array([0, 1, 2]) * rec.sampling_interval)
        # Into an existing array, of either precision; one of another length is refused.
        buffer = np.full(1000, np.nan, np.float64)
        assert rec.read(1, start=16000, stop=17000, out=buffer) is buffer
        assert np.array_equal(buffer, whole[16000:17000])
        for wrong in (np.empty(999, np.float32), np.empty(1000, np.int32), np.empty(2000, np.float32)[::2]):
            with pytest.raises((ValueError, TypeError)):
                rec.read(1, start=16000, stop=17000, out=wrong)


def test_lazy_views_read_what_the_eager_reads_give(files):
    with sorvan.open(files["gapfree"]) as rec:
        view, whole = rec.channel(2), rec.read(2)
        assert view.shape == whole.shape and view.dtype == np.float32 and view.ndim == 1 and len(view) == len(whole)
        for key in [slice(None), slice(100, 20000, 7), slice(None, None, -1), slice(90000, 10, -3), slice(5, 5),
                    -1, 0, 16384, Ellipsis, (slice(1, 3),)]:
            assert np.array_equal(view[key], whole[key]), key
        assert np.array_equal(np.asarray(view), whole)
        with pytest.raises(IndexError):
            view[100000]
    with sorvan.open(files["episodic"]) as rec:
        view, table = rec.channel(1, dtype=np.float64), rec.episodes(1, dtype=np.float64)
        assert view.shape == table.shape == (4, 3000)
        for key in [(slice(None), slice(10, 20)), 2, (-1, slice(None, None, 2)), (slice(1, None, 2), 5),
                    (Ellipsis, 7)]:
            assert np.array_equal(view[key], table[key]), key


def test_episodes_of_different_lengths_are_padded_with_nan(files):
    with sorvan.open(files["events"]) as rec:
        lengths = rec.episode_lengths
        assert list(lengths) == [100, 2500, 40]
        table = rec.episodes(0)
        assert table.shape == (3, 2500)
        for e, n in enumerate(lengths, 1):
            row = rec.read(0, episode=e)
            assert len(row) == n and np.array_equal(table[e - 1, :n], row) and np.isnan(table[e - 1, n:]).all()
            assert len(rec.time(e)) == n
        assert np.array_equal(np.asarray(rec.channel(0)), table, equal_nan=True)
        with pytest.raises(sorvan.Error) as e:
            rec.read(0)
        assert e.value.number == 0 and "gap-free" in str(e.value)


def test_header_values(files):
    with sorvan.open(files["gapfree"]) as rec:
        assert rec.start_time == datetime.datetime(2019, 12, 31, 23, 59, 58, 250000)
        assert rec.protocol == "C:\\protocols\\gapfree.pro" and rec.creator == "abfgen"
        assert rec.format == "ABF2" and rec.mode == 3 and rec.mode_name == "gap-free"
        assert rec.sampling_interval == pytest.approx(50e-6) and rec.sampling_rate == pytest.approx(20000)
        assert [c.index for c in rec.channels] == [0, 1, 2]
        header = rec.header
        assert header["nADCNumChannels"] == 3 and isinstance(header["fADCSequenceInterval"], float)
        assert header["uFileStartDate"] == 20191231 and isinstance(header["sProtocolPath"], str)
        assert "dStartTime" not in rec.note(0) and "dStartTime=" in rec.note(0, 1)
    with sorvan.open(files["bad-date"]) as rec:
        assert rec.start_time is None


def test_pickles_as_its_path(files):
    with sorvan.open(files["episodic"]) as rec:
        again = pickle.loads(pickle.dumps(rec))
        assert isinstance(again, sorvan.Recording) and again.path == rec.path and not again.closed
        assert np.array_equal(again.read(1, episode=3), rec.read(1, episode=3))
        view = pickle.loads(pickle.dumps(rec.channel(1, np.float64)))
        assert view.dtype == np.float64 and np.array_equal(view[2], rec.episodes(1, np.float64)[2])
        again.close()
    from pathlib import Path
    assert sorvan.open(Path(files["episodic"])).path == files["episodic"]


def test_closed_recording_keeps_its_header_and_refuses_reads(files):
    with sorvan.open(files["episodic"]) as rec:
        pass
    assert rec.closed and rec.episode_count == 4 and rec.header["nOperationMode"] == 5
    with pytest.raises(sorvan.Error) as e:
        rec.read(0, episode=1)
    assert e.value.number == 0 and e.value.filename == files["episodic"]
    rec.close()  # again: nothing happens


def test_errors_carry_file_number_and_text(files, tmp_path):
    missing = str(tmp_path / "missing.abf")
    with pytest.raises(FileNotFoundError) as e:
        sorvan.open(missing)
    assert isinstance(e.value, sorvan.Error) and e.value.filename == missing and e.value.number == 1004
    assert missing in str(e.value)
    with pytest.raises(sorvan.Error) as e:
        sorvan.open(files["not-abf"])
    assert not isinstance(e.value, FileNotFoundError) and e.value.number == 1005
    assert e.value.filename == files["not-abf"] and files["not-abf"] in e.value.text
    assert pickle.loads(pickle.dumps(e.value)).number == 1005
    with sorvan.open(files["episodic"]) as rec:
        with pytest.raises(IndexError):
            rec.read(2, episode=1)
        with pytest.raises(IndexError):
            rec.read(0, episode=5)
        with pytest.raises(IndexError):
            rec.read(0, episode=0)
        with pytest.raises(TypeError):
            rec.read(0, episode=1, dtype=np.int16)
        with pytest.raises(TypeError):
            rec.read(0, episode=1, start=2)


def test_threads_share_recordings(files):
    """Python threads read one recording and several at once (the reads release the
    interpreter lock): each gets what a read alone gives."""
    recs = [sorvan.open(files["gapfree"]), sorvan.open(files["gapfree"])]
    expected = [recs[0].read(c) for c in range(3)]
    failures = []

    def work(k):
        rec = recs[k % 2]
        for i in range(20):
            c = (i + k) % 3
            if not np.array_equal(rec.read(c, start=1000 * k, stop=60000 + k), expected[c][1000 * k:60000 + k]):
                failures.append((k, i))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    for r in recs:
        r.close()


def test_stub_and_help_describe_the_package():
    package = os.path.dirname(sorvan.__file__)
    for name in ("__init__.pyi", "py.typed"):
        assert os.path.exists(os.path.join(package, name)), name
    with open(os.path.join(package, "__init__.pyi")) as f:
        stub = ast.parse(f.read())
    stubbed = {n.name: n for n in stub.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    stubbed.update({t.id: None for n in stub.body if isinstance(n, ast.AnnAssign) for t in [n.target]})
    assert set(sorvan.__all__) <= set(stubbed), "every public name is in the stub"
    for cls in ("Recording", "ChannelArray"):
        members = {n.name for n in stubbed[cls].body if isinstance(n, ast.FunctionDef)}
        public = {m for m in dir(getattr(sorvan, cls)) if not m.startswith("_")}
        assert public <= members, "%s: not in the stub: %s" % (cls, sorted(public - members))
        for m in public:
            assert getattr(getattr(sorvan, cls), m).__doc__, "%s.%s has no docstring" % (cls, m)
    text = pydoc.render_doc(sorvan.Recording, renderer=pydoc.plaintext)
    assert "read(" in text and "episodes(" in text and "gap-free" in text
