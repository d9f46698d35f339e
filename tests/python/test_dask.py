"""A lab's archive with Dask on the local schedulers: per-file statistics over a
folder of recordings with dask.bag (threads, and processes, which pickle the
recordings as their paths), and statistics of one long channel with dask.array
over the lazy view; each equal to the eager answer."""
import glob
import os

import dask.array as da
import dask.bag as db
import numpy as np
import pytest

import sorvan
from conftest import abfgen


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    d = tmp_path_factory.mktemp("archive")
    for i in range(6):
        abfgen(d / ("gapfree%d.abf" % i), "--samples", str(20000 + 1000 * i), "--seed", str(i + 1))
    for i in range(3):
        abfgen(d / ("steps%d.abf" % i), "--mode", "episodic", "--episodes", str(3 + i), "--seed", str(i + 1))
    return str(d)


def stats(path):
    """What a lab computes per file: its name, mode, and each channel's mean and extremes."""
    with sorvan.open(path) as rec:
        values = [rec.episodes(c.index) for c in rec.channels]
        return (os.path.basename(path), rec.mode, [(float(np.nanmean(v, dtype=np.float64)), float(np.nanmin(v)),
                                                    float(np.nanmax(v))) for v in values])


def peak(rec):
    return rec.path, float(np.nanmax(rec.episodes(0)))


@pytest.mark.parametrize("scheduler", ["threads", "processes"])
def test_bag_of_files(folder, scheduler):
    paths = sorted(glob.glob(os.path.join(folder, "*.abf")))
    eager = [stats(p) for p in paths]
    assert db.from_sequence(paths, npartitions=3).map(stats).compute(scheduler=scheduler) == eager
    # Recordings themselves go to the workers, as their paths.
    recs = [sorvan.open(p) for p in paths]
    assert db.from_sequence(recs, npartitions=3).map(peak).compute(scheduler=scheduler) == [peak(r) for r in recs]


def test_array_of_one_long_channel(tmp_path):
    path = abfgen(tmp_path / "long.abf", "--channels", "2", "--samples", "1500000")
    with sorvan.open(path) as rec:
        eager = rec.read(1)
        lazy = da.from_array(rec.channel(1), chunks=200_000)
        assert lazy.shape == eager.shape and lazy.dtype == eager.dtype
        mx, mn, total, above = da.compute(lazy.max(), lazy.min(), lazy.sum(dtype=np.float64),
                                          (lazy > eager.mean()).sum(), scheduler="threads")
        assert (mx, mn, above) == (eager.max(), eager.min(), (eager > eager.mean()).sum())
        assert total == pytest.approx(eager.sum(dtype=np.float64), rel=1e-12)
        assert np.array_equal(lazy[123456:654321:3].compute(scheduler="threads"), eager[123456:654321:3])


def test_array_of_episodes(folder):
    with sorvan.open(os.path.join(folder, "steps2.abf")) as rec:
        eager = rec.episodes(0)
        lazy = da.from_array(rec.channel(0), chunks=(1, -1))
        assert np.array_equal(lazy.max(axis=1).compute(scheduler="threads"), eager.max(axis=1))
