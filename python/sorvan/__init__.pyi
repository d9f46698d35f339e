"""ABF recordings as NumPy arrays, with the answers of the kav_Sorvan plug-in."""
import datetime
import os
from typing import Any, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, os.PathLike]
_DType = npt.DTypeLike
_Index = Union[int, slice, Tuple[Union[int, slice], ...], "ellipsis"]

__all__: list

class Error(Exception):
    """A recording that cannot be opened or read."""

    text: str
    """What went wrong, in the ABF library's words where it failed."""
    number: int
    """The ABF library's error number, or 0 when the reader refused a request itself."""
    filename: Optional[str]
    """The file, as it was given to open()."""
    def __init__(self, text: str, number: int = ..., filename: Optional[str] = ...) -> None: ...

class FileNotFound(Error, FileNotFoundError):
    """The file does not exist: both a sorvan.Error and a FileNotFoundError."""

class Channel(NamedTuple):
    """One sampled channel."""

    index: int
    """Its position in the sampling sequence: what read() and the others take."""
    name: str
    units: str
    adc: int
    """The physical ADC channel."""
    stimulus_units: str

class Tag(NamedTuple):
    """One tag."""

    time: float
    """Seconds from the start of the recording."""
    kind: str
    """"time", "comment", "external", "voice", "new file", "annotation" or "unknown"."""
    comment: str

def open(path: _Path) -> Recording:
    """Opens an ABF recording and reads its header; FileNotFoundError (a
    sorvan.FileNotFound) for a missing file, sorvan.Error when the library refuses it."""

class Recording:
    """An ABF recording, opened by sorvan.open(); a context manager. Channels count
    from 0, episodes from 1, times are in seconds. Pickles as its path."""

    path: str
    def __init__(self, path: _Path) -> None: ...
    def __enter__(self) -> Recording: ...
    def __exit__(self, *exc: Any) -> bool: ...
    def close(self) -> None:
        """Gives the file back; the header's values stay readable."""
    @property
    def closed(self) -> bool:
        """True once closed."""
    @property
    def version(self) -> float:
        """The file's version number (fFileVersionNumber)."""
    @property
    def format(self) -> str:
        """"ABF1" or "ABF2"."""
    @property
    def mode(self) -> int:
        """nOperationMode: 1 variable-length events, 2 fixed-length events, 3 gap-free,
        4 high-speed oscilloscope, 5 episodic stimulation."""
    @property
    def mode_name(self) -> str:
        """The operation mode in words."""
    @property
    def gap_free(self) -> bool:
        """True for a gap-free recording."""
    @property
    def channels(self) -> list[Channel]:
        """The sampled channels."""
    @property
    def sampling_interval(self) -> float:
        """Seconds between two samples of one channel."""
    @property
    def sampling_rate(self) -> float:
        """Samples per second of one channel."""
    @property
    def episode_count(self) -> int:
        """Sweeps of an episodic or event recording, the library's reads of a gap-free one."""
    @property
    def episode_lengths(self) -> npt.NDArray[np.int64]:
        """Samples per channel of each episode."""
    @property
    def sample_count(self) -> Optional[int]:
        """Samples of one channel of a gap-free recording (None for other modes)."""
    @property
    def start_time(self) -> Optional[datetime.datetime]:
        """When the recording started (None when the header's date is not a date)."""
    @property
    def protocol(self) -> str:
        """sProtocolPath."""
    @property
    def creator(self) -> str:
        """sCreatorInfo."""
    @property
    def comment(self) -> str:
        """sFileComment."""
    @property
    def tags(self) -> list[Tag]:
        """The tags in file order."""
    @property
    def header(self) -> dict[str, Union[int, float, str, list]]:
        """The header catalogue of kav_AbfMetaData: numbers as numbers, texts, lists."""
    def header_string(self) -> str:
        """The header catalogue as the plug-in's key=value string."""
    def note(self, channel: int, episode: Optional[int] = ...) -> str:
        """The wave note the plug-in attaches to a read of the channel or of an episode."""
    def episode_start(self, channel: int, episode: int) -> float:
        """Seconds from the start of the recording to the start of the episode."""
    def read(self, channel: int, episode: Optional[int] = ..., *, start: Optional[int] = ...,
             stop: Optional[int] = ..., dtype: _DType = ...,
             out: Optional[npt.NDArray[np.floating]] = ...) -> npt.NDArray[np.floating]:
        """A gap-free channel whole, one episode, or samples start..stop-1 of a gap-free
        channel (reading only those), float32 (the library's values) or float64; into
        `out` (an existing array of the right length) when given."""
    def episodes(self, channel: int, dtype: _DType = ...) -> npt.NDArray[np.floating]:
        """Episodes x samples, the shorter episodes filled up with NaN."""
    def stimulus(self, channel: int, episode: int, dtype: _DType = ...) -> npt.NDArray[np.floating]:
        """The stimulus waveform of the channel's output in the episode."""
    def time(self, episode: Optional[int] = ..., *, start: Optional[int] = ...,
             stop: Optional[int] = ...) -> npt.NDArray[np.float64]:
        """The time axis (seconds) of what read() returns for the same arguments."""
    def to_nwb(
        self,
        path: _Path,
        *,
        channels: Optional[Sequence[int]] = ...,
        episodes: Optional[Sequence[int]] = ...,
        utc_offset: Union[None, str, datetime.timedelta, datetime.timezone] = ...,
    ) -> _Path:
        """Writes the recording as an NWB 2.7.0 file (see the package's documentation)."""
    def channel(self, channel: int, dtype: _DType = ...) -> ChannelArray:
        """A lazy array of one channel: slicing reads only the slice."""

class ChannelArray:
    """One channel as a lazy array (1-D gap-free, else episodes x samples, NaN-padded),
    for dask.array.from_array. Pickles as its recording's path, channel and dtype."""

    recording: Recording
    index: int
    dtype: np.dtype
    shape: Tuple[int, ...]
    def __init__(self, recording: Recording, channel: int, dtype: _DType = ...) -> None: ...
    @property
    def ndim(self) -> int:
        """1 or 2."""
    @property
    def size(self) -> int:
        """Elements of the whole array."""
    def __len__(self) -> int: ...
    def __getitem__(self, key: _Index) -> Any: ...
    def __array__(self, dtype: Optional[_DType] = ...) -> npt.NDArray[Any]: ...
