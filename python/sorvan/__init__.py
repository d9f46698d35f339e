"""ABF recordings as NumPy arrays, with the answers of the kav_Sorvan plug-in.

    import sorvan
    with sorvan.open("cell1.abf") as rec:
        print(rec.mode_name, [c.name for c in rec.channels], rec.sampling_rate)
        v = rec.read(0)                   # a gap-free channel, float32
        sweep = rec.read(0, episode=3)    # one episode (episodes count from 1)
        all_sweeps = rec.episodes(0)      # episodes x samples, NaN-padded

Opening reads the header only; samples are read when asked for, straight into
the array, through the same ABF library and header rules as the plug-in: the
float32 samples are those of ``kav_AbfChannelRead`` and ``kav_AbfEpisodeRead``,
``Recording.header`` is the catalogue of ``kav_AbfMetaData``.

A ``Recording`` pickles as its path (it opens again where it is unpickled), and
``Recording.channel(i)`` is a lazy array that Dask can use
(``dask.array.from_array(rec.channel(0), chunks=...)``): see README.
"""
import collections
import datetime
import os

import numpy as np

from . import _sorvan
from ._errors import Error, FileNotFound

__all__ = ["open", "Recording", "ChannelArray", "Channel", "Tag", "Error", "FileNotFound"]

Channel = collections.namedtuple("Channel", "index name units adc stimulus_units")
Channel.__doc__ = """One sampled channel: ``index`` (its position in the sampling sequence, what
``read`` and the others take), ``name`` and ``units`` (the header's texts, trimmed),
``adc`` (the physical ADC channel) and ``stimulus_units`` (the units of its
stimulus waveform)."""

Tag = collections.namedtuple("Tag", "time kind comment")
Tag.__doc__ = """One tag: ``time`` in seconds from the start of the recording, ``kind`` ("time",
"comment", "external", "voice", "new file", "annotation", "unknown") and its
``comment`` text."""

_DTYPES = (np.dtype(np.float32), np.dtype(np.float64))


def _dtype(dtype):
    d = np.dtype(dtype)
    if d not in _DTYPES:
        raise TypeError("dtype must be float32 or float64, not %s" % d)
    return d


def open(path):  # noqa: A001 (the module's verb, as io.open)
    """Opens an ABF recording (ABF1 or ABF2) and reads its header.

    Raises ``FileNotFoundError`` (a :class:`sorvan.FileNotFound`) when the file
    does not exist and :class:`sorvan.Error` when the ABF library refuses it,
    both with the file name, the library's error number and its text.
    """
    return Recording(path)


class Recording(_sorvan.Recording):
    """An ABF recording, opened by :func:`sorvan.open`.

    Channels are numbered from 0 in sampling order (``channels``); episodes
    (sweeps, or the library's reads of a gap-free or event recording) from 1,
    as in the plug-in and in ``sorvan``'s file names. Times are in seconds.

    Closing (``close()``, or leaving a ``with`` block) gives the file back;
    the header's values stay readable.
    """

    def __init__(self, path):
        super().__init__()
        self.path = os.fspath(path)
        self._lengths = None
        self._open(os.fsencode(self.path))

    # ---- lifetime -----------------------------------------------------------

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __reduce__(self):
        return (open, (self.path,))

    def __repr__(self):
        return "<sorvan.Recording %r: %s, %d channel%s, %d episode%s%s>" % (
            self.path, self.mode_name, len(self.channels), "" if len(self.channels) == 1 else "s",
            self.episode_count, "" if self.episode_count == 1 else "s", ", closed" if self.closed else "")

    # ---- what the header says -------------------------------------------------

    @property
    def version(self):
        """The file's version number (fFileVersionNumber), e.g. 1.83 or 2.0."""
        return round(self._file_version, 4)

    @property
    def format(self):
        """"ABF1" or "ABF2"."""
        return "ABF2" if self._file_version >= 2 else "ABF1"

    @property
    def mode(self):
        """The operation mode (nOperationMode): 1 variable-length events, 2 fixed-length
        events, 3 gap-free, 4 high-speed oscilloscope, 5 episodic stimulation."""
        return self._mode

    @property
    def mode_name(self):
        """The operation mode in words ("gap-free", "episodic stimulation", ...)."""
        return self._mode_name

    @property
    def gap_free(self):
        """True for a gap-free recording: one continuous record per channel."""
        return self._gap_free

    @property
    def channels(self):
        """The sampled channels, a list of :class:`sorvan.Channel`."""
        return [Channel(index, name, units, adc, stimulus) for index, adc, name, units, stimulus in self._channels]

    @property
    def sampling_interval(self):
        """Seconds between two samples of one channel (the X step of the plug-in's waves)."""
        return self._x_step

    @property
    def sampling_rate(self):
        """Samples per second of one channel."""
        return 1.0 / self._x_step if self._x_step > 0 else float("nan")

    @property
    def episode_count(self):
        """Number of episodes: the sweeps of an episodic or event recording, the
        library's reads of a gap-free one."""
        return self._episode_count

    @property
    def episode_lengths(self):
        """Samples per channel of each episode, an int64 array (episode 1 first)."""
        if self._lengths is None:
            self._lengths = self._episode_lengths()
        return self._lengths.copy()

    @property
    def sample_count(self):
        """Samples of one channel of a gap-free recording (None for other modes)."""
        return self._channel_points() if self.gap_free else None

    @property
    def start_time(self):
        """When the recording started, a ``datetime`` (None when the header's date is not a date)."""
        date, ms = self._start
        try:
            day = datetime.datetime(date // 10000, date // 100 % 100, date % 100)
        except ValueError:
            return None
        return day + datetime.timedelta(milliseconds=ms)

    @property
    def protocol(self):
        """The protocol file the recording was made with (sProtocolPath)."""
        return self._protocol

    @property
    def creator(self):
        """The program that wrote the file (sCreatorInfo)."""
        return self._creator

    @property
    def comment(self):
        """The file's comment (sFileComment)."""
        return self._comment

    @property
    def tags(self):
        """The tags, a list of :class:`sorvan.Tag` in file order."""
        return [Tag(*t) for t in self._tags()]

    @property
    def header(self):
        """The header catalogue as a dict, in the order and with the keys of the
        plug-in's key=value string (kav_AbfMetaData): numbers as int or float, texts
        as str, lists as lists."""
        return self._header()

    def header_string(self):
        """The header catalogue as the plug-in's key=value string ("key=value;" ...)."""
        return self._header_string()

    def note(self, channel, episode=None):
        """The wave note the plug-in attaches to a read of ``channel``: of the whole
        channel, or of ``episode`` (with its start time)."""
        return self._note(channel, episode)

    def episode_start(self, channel, episode):
        """When ``episode`` of ``channel`` starts, in seconds from the start of the recording."""
        return self._episode_start(channel, episode) / 1000.0

    # ---- samples ----------------------------------------------------------------

    def _length(self, episode):
        if self._lengths is None:
            self._lengths = self._episode_lengths()
        if not 1 <= episode <= len(self._lengths):
            raise IndexError("episode %d out of range (the recording has episodes 1 to %d)"
                             % (episode, len(self._lengths)))
        return int(self._lengths[episode - 1])

    def _range(self, start, stop):
        n = self._channel_points() if self.gap_free else None
        if n is None:
            raise Error("%s: not a gap-free recording: read it one episode at a time (episode=...)" % self.path,
                        0, self.path)
        start, stop, _ = slice(start, stop).indices(n)
        return start, max(start, stop)

    def read(self, channel, episode=None, *, start=None, stop=None, dtype=np.float32, out=None):
        """Samples of one channel in its units, as a 1-D array.

        - ``read(c)``: the whole channel of a gap-free recording (kav_AbfChannelRead);
        - ``read(c, episode=e)``: episode ``e`` (from 1) of any recording (kav_AbfEpisodeRead);
        - ``read(c, start=i, stop=j)``: samples i to j-1 of a gap-free channel, reading
          only those (negative values count from the end, as in slicing).

        ``dtype`` float32 gives the library's values as they are; float64 the same
        values widened. ``out``: an existing C-contiguous float32 or float64 array of
        the right length to read into (and to return) instead of a new one, as a
        chunked reader reuses one buffer.
        """
        if episode is not None:
            if start is not None or stop is not None:
                raise TypeError("give either an episode or a sample range, not both")
            out = self._out(out, self._length(episode), dtype)
            self._read_episode(channel, episode, out)
            return out
        start, stop = self._range(start, stop)
        out = self._out(out, stop - start, dtype)
        self._read_range(channel, start, stop, out)
        return out

    @staticmethod
    def _out(out, n, dtype):
        if out is None:
            return np.empty(n, _dtype(dtype))
        if not isinstance(out, np.ndarray) or out.shape != (n,):
            raise ValueError("out must be a 1-D array of %d elements" % n)
        return out

    def episodes(self, channel, dtype=np.float32):
        """All episodes of one channel as a 2-D array, episodes x samples, the shorter
        ones filled up with NaN (the array ``sorvan export --to npy`` writes). A
        gap-free channel is one row."""
        d = _dtype(dtype)
        if self.gap_free:
            return self.read(channel, dtype=d)[np.newaxis, :]
        lengths = self.episode_lengths
        columns = int(lengths.max()) if len(lengths) else 0
        out = np.empty((len(lengths), columns), d)
        self._read_episodes(channel, out, columns)
        return out

    def stimulus(self, channel, episode, dtype=np.float32):
        """The stimulus (command) waveform of ``channel``'s output in ``episode``, as the
        library computes it from the protocol (kav_AbfEpisodeWaveform), in the
        channel's ``stimulus_units``."""
        out = np.empty(self._length(episode), _dtype(dtype))
        self._read_stimulus(channel, episode, out)
        return out

    def time(self, episode=None, *, start=None, stop=None):
        """The time axis in seconds of what ``read`` returns for the same arguments: sample
        i at i x sampling_interval from the first one read (the X scaling of the
        plug-in's waves), float64."""
        if episode is not None:
            n = self._length(episode)
        else:
            start, stop = self._range(start, stop)
            n = stop - start
        return np.arange(n, dtype=np.float64) * self._x_step

    def to_nwb(self, path, *, channels=None, episodes=None, utc_offset=None):
        """Writes the recording as a Neurodata Without Borders file (NWB 2.7.0) at ``path``,
        through the writer of ``sorvan export --to nwb``: per channel and episode (a
        gap-free recording: per channel) the float32 samples of :meth:`read` as a
        current-clamp, voltage-clamp or plain patch-clamp series by the channel's
        units, with the conversion to volts or amperes; the stimulus of each episode
        where the protocol defines one; a device and an electrode per channel; the
        icephys tables; the tags.

        ``channels`` (indexes) and ``episodes`` (from 1; not for a gap-free recording)
        choose what goes in, all by default. ``utc_offset``: the recording's offset from
        UTC, as ABF files keep local time without a zone: ``"+01:00"``, ``"-05:30"``,
        ``"Z"``, a ``datetime.timedelta`` or a ``datetime.timezone``; None takes that of
        this machine's time zone on the recording's date. The file's notes say which.

        The file is written under a temporary name beside ``path`` and renamed when
        it is whole; raises :class:`sorvan.Error` (nothing written) when it cannot be.
        Returns ``path``.
        """
        offset = _utc_minutes(utc_offset)
        chosen = list(range(len(self._channels))) if channels is None else [int(c) for c in channels]
        if episodes is None:
            picked = []
        else:
            picked = [int(e) for e in episodes]
            if self.gap_free:
                raise ValueError("a gap-free recording has no episodes to choose")
            if not picked:
                raise ValueError("no episode chosen")
        self._to_nwb(os.fsencode(os.fspath(path)), chosen, picked, offset)
        return path

    def channel(self, channel, dtype=np.float32):
        """A lazy array of one channel (:class:`sorvan.ChannelArray`): 1-D for a gap-free
        recording, episodes x samples otherwise; slicing reads only the slice."""
        return ChannelArray(self, channel, dtype)


def _utc_minutes(offset):
    """An offset from UTC in whole minutes (None stays None)."""
    if offset is None:
        return None
    if isinstance(offset, datetime.timezone):
        offset = offset.utcoffset(None)
    if isinstance(offset, str):
        text = offset
        if text == "Z":
            return 0
        ok = len(text) == 6 and text[0] in "+-" and text[3] == ":" and (text[1:3] + text[4:]).isdigit()
        if not ok or int(text[4:]) >= 60:
            raise ValueError("utc_offset must be +HH:MM, -HH:MM or Z, not %r" % text)
        minutes = int(text[1:3]) * 60 + int(text[4:])
        offset = datetime.timedelta(minutes=-minutes if text[0] == "-" else minutes)
    if not isinstance(offset, datetime.timedelta):
        raise TypeError("utc_offset must be a text, a timedelta or a timezone, not %s" % type(offset).__name__)
    if offset % datetime.timedelta(minutes=1) or abs(offset) > datetime.timedelta(hours=18):
        raise ValueError("utc_offset must be whole minutes within 18 hours, not %s" % offset)
    return int(offset // datetime.timedelta(minutes=1))


class ChannelArray:
    """One channel of a recording as a lazy array: ``shape``, ``dtype``, ``ndim`` and
    slicing, which reads only what the slice holds. A gap-free channel is 1-D
    (its samples); other recordings are 2-D, episodes x samples, the shorter
    episodes filled up with NaN, as :meth:`Recording.episodes`.

    Made for ``dask.array.from_array(view, chunks=...)``; ``numpy.asarray(view)``
    reads it whole. It pickles as its recording's path, the channel and the dtype.
    """

    def __init__(self, recording, channel, dtype=np.float32):
        self.recording = recording
        self.index = int(channel)
        self.dtype = _dtype(dtype)
        channels = recording._channels
        if not 0 <= self.index < len(channels):
            raise IndexError("channel %d out of range (the recording has %d channels)" % (self.index, len(channels)))
        if recording.gap_free:
            self.shape = (recording._channel_points(),)
        else:
            lengths = recording.episode_lengths
            self._lengths = lengths
            self.shape = (len(lengths), int(lengths.max()) if len(lengths) else 0)

    @property
    def ndim(self):
        """1 for a gap-free channel, 2 (episodes x samples) otherwise."""
        return len(self.shape)

    @property
    def size(self):
        """Elements of the whole array."""
        return int(np.prod(self.shape))

    def __len__(self):
        return self.shape[0]

    def __reduce__(self):
        return (ChannelArray, (self.recording, self.index, self.dtype))

    def __repr__(self):
        return "<sorvan.ChannelArray %r channel %d, shape %r, %s>" % (
            self.recording.path, self.index, self.shape, self.dtype)

    def __array__(self, dtype=None):
        a = self[...]
        return a if dtype is None else a.astype(dtype, copy=False)

    def __getitem__(self, key):
        key = key if isinstance(key, tuple) else (key,)
        if any(k is Ellipsis for k in key):
            i = next(i for i, k in enumerate(key) if k is Ellipsis)
            fill = (slice(None),) * (self.ndim - len(key) + 1)
            key = key[:i] + fill + key[i + 1:]
        if len(key) > self.ndim:
            raise IndexError("too many indices for a %d-dimensional channel" % self.ndim)
        key = key + (slice(None),) * (self.ndim - len(key))
        if self.ndim == 1:
            return self._samples(key[0])
        return self._rows(key[0], key[1])

    def _samples(self, k):
        n = self.shape[0]
        if isinstance(k, slice):
            picked = range(*k.indices(n))
            if not picked:
                return np.empty(0, self.dtype)
            lo, hi = min(picked[0], picked[-1]), max(picked[0], picked[-1]) + 1
            span = self._span(lo, hi)
            return span if picked.step == 1 else span[picked.start - lo::picked.step].copy()
        i = self._index(k, n)
        return self._span(i, i + 1)[0]

    def _span(self, start, stop):
        out = np.empty(stop - start, self.dtype)
        if stop > start:
            self.recording._read_range(self.index, start, stop, out)
        return out

    def _rows(self, rows, columns):
        n = self.shape[0]
        if isinstance(rows, slice):
            picked = list(range(*rows.indices(n)))
        else:
            picked = [self._index(rows, n)]
        out = np.full((len(picked), self.shape[1]), np.nan, self.dtype)
        for r, e in enumerate(picked):
            length = int(self._lengths[e])
            row = np.empty(length, self.dtype)
            self.recording._read_episode(self.index, e + 1, row)
            out[r, :length] = row
        out = out[:, columns]
        return out if isinstance(rows, slice) else out[0]

    @staticmethod
    def _index(k, n):
        i = int(k)
        if i < 0:
            i += n
        if not 0 <= i < n:
            raise IndexError("index %d out of range for %d" % (int(k), n))
        return i
