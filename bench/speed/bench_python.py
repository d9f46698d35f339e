#!/usr/bin/python3
"""The Python rows of ./run bench, one measurement per run of this program, printed
as JSON (run by run_bench.py with Debian's python3 and PYTHONPATH at the release
build's package):

  read FILE ROUNDS   sorvan.Recording.read of channel 0 into an existing float32
                     array (read(0, out=...)), the file opened once
  read_new FILE ROUNDS   the same into a new array each round (read(0))
  neo FILE ROUNDS    the same channel through python3-neo's raw reader for ABF
                     files: its chunk of the whole channel and the rescale into float32
  open DIR ROUNDS    sorvan.open and the header dict of every .abf file in DIR, closed
                     again; files per second

Each round is timed on its own; the median is the figure (and the first round,
which faults in the array's pages, is one of them, as for every reader).
"""
import glob
import json
import os
import statistics
import sys
import time


def timed(rounds, work):
    seconds = []
    for _ in range(rounds):
        t0 = time.perf_counter()
        result = work()
        seconds.append(time.perf_counter() - t0)
        del result
    return statistics.median(seconds), seconds


def read_rows(path, rounds, into_existing=True):
    import sorvan
    rec = sorvan.open(path)
    samples = rec.sample_count
    if into_existing:  # as the plug-in's row reads into a wave that exists
        out = rec.read(0)
        median, all_rounds = timed(rounds, lambda: rec.read(0, out=out))
    else:  # a new array each time, its pages faulted in by the read
        median, all_rounds = timed(rounds, lambda: rec.read(0))
    return {"seconds": median, "samples": samples, "rounds_seconds": all_rounds}


def neo_rows(path, rounds):
    import numpy as np
    from neo.rawio import AxonRawIO
    reader = AxonRawIO(filename=path)
    reader.parse_header()

    def read():
        raw = reader.get_analogsignal_chunk(block_index=0, seg_index=0, i_start=None, i_stop=None, stream_index=0,
                                            channel_indexes=[0])
        return reader.rescale_signal_raw_to_float(raw, dtype="float32", stream_index=0, channel_indexes=[0])

    values = read()
    assert values.dtype == np.float32
    median, all_rounds = timed(rounds, read)
    return {"seconds": median, "samples": int(values.shape[0]), "rounds_seconds": all_rounds}


def open_rows(folder, rounds):
    import sorvan
    paths = sorted(glob.glob(os.path.join(folder, "*.abf")))

    def work():
        for p in paths:
            with sorvan.open(p) as rec:
                rec.header
    median, all_rounds = timed(rounds, work)
    return {"seconds": median, "files": len(paths), "rounds_seconds": all_rounds}


def main():
    what, target, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    try:
        rows = {"read": read_rows, "read_new": lambda p, n: read_rows(p, n, False), "neo": neo_rows,
                "open": open_rows}[what](target, rounds)
    except Exception as e:  # the table says why the row is missing
        rows = {"error": "%s: %s" % (type(e).__name__, e)}
    print(json.dumps(rows))


if __name__ == "__main__":
    main()
