"""Every hostile file (the fuzz corpus: abfgen's malformed presets and the inputs of
past findings; and every preset written afresh) either reads or raises a clean
sorvan.Error: opened, every channel read whole or by episode, its stimulus, tags,
notes and header; never a crash, another exception or a file left open."""
import glob
import os

import numpy as np
import pytest

import sorvan
from conftest import CORPUS


def corpus():
    files = sorted(glob.glob(os.path.join(CORPUS, "*.abf")))
    assert len(files) > 50, "SORVAN_TEST_CORPUS (fuzz/corpus) is not set or holds %d files: %r" % (len(files), CORPUS)
    return files


def read_everything(path):
    """'refused' or 'read'; any sorvan.Error after the open counts as a clean refusal."""
    try:
        rec = sorvan.open(path)
    except sorvan.Error as e:
        assert e.filename == path and e.number != 0 and e.text
        return "refused"
    with rec:
        assert isinstance(rec.header, dict) and rec.header_string()
        for step in (lambda: rec.tags, lambda: rec.start_time, lambda: rec.episode_lengths):
            try:
                step()
            except sorvan.Error:
                pass
        for c in rec.channels:
            rec.note(c.index)
            try:
                table = rec.episodes(c.index)
                assert table.ndim == 2 and table.dtype == np.float32
                if rec.gap_free:
                    rec.read(c.index, start=rec.sample_count // 2)
            except sorvan.Error:
                pass
            for e in sorted({1, rec.episode_count} - {0}):
                for read in (lambda: rec.read(c.index, episode=e), lambda: rec.stimulus(c.index, e),
                             lambda: rec.note(c.index, e), lambda: rec.episode_start(c.index, e)):
                    try:
                        read()
                    except sorvan.Error:
                        pass
    return "read"


@pytest.mark.parametrize("path", corpus(), ids=os.path.basename)
def test_corpus_file(path):
    read_everything(path)


def test_every_preset(presets):
    outcomes = {name: read_everything(path) for name, path in presets.items()}
    # The malformed presets the library must refuse at the open (abfgen marks them).
    for name in ("truncated-file-info", "bad-signature", "bad-version", "zero-channels", "channels-17",
                 "abf1-truncated-header", "data-pointer-past-end", "absurd-data-count"):
        assert outcomes[name] == "refused", name
    assert outcomes["default"] == "read"
    # Nothing was left open, by the failed opens or the recordings given up: the
    # library still has room for 64 files.
    for _ in range(70):
        sorvan.open(presets["step-protocol"])  # closed when collected
    held = [sorvan.open(presets["default"]) for _ in range(64)]
    for r in held:
        r.close()
