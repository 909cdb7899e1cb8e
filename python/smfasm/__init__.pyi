import os
from typing import Iterable, Iterator, NamedTuple, Optional, Union

import numpy as np
import numpy.typing as npt
import pandas

_Bytes = Union[bytes, bytearray, memoryview, npt.NDArray[np.uint8]]
_Message = tuple[int, int, str, str]

EVENT_COLUMNS: tuple[str, ...]

class SmfError(Exception):
    messages: list[_Message]
    offset: Optional[int]
    def __init__(self, messages: list[_Message], offset: Optional[int] = ...) -> None: ...

class SmfWarning(UserWarning): ...

class EventTable:
    format: int
    track_count: int
    division: int
    header_length: int
    header_extra: bytes
    tracks: dict[str, npt.NDArray[np.generic]]
    blob: bytes
    track: npt.NDArray[np.int32]
    tick: npt.NDArray[np.int64]
    bar: npt.NDArray[np.int64]
    beat: npt.NDArray[np.int64]
    beat_tick: npt.NDArray[np.int64]
    kind: npt.NDArray[np.uint8]
    channel: npt.NDArray[np.int8]
    data1: npt.NDArray[np.uint8]
    data2: npt.NDArray[np.uint8]
    note_length: npt.NDArray[np.int64]
    partner: npt.NDArray[np.int64]
    running: npt.NDArray[np.uint8]
    status_mark: npt.NDArray[np.uint8]
    end_position: npt.NDArray[np.int32]
    offset: npt.NDArray[np.int64]
    length: npt.NDArray[np.int64]
    def __len__(self) -> int: ...
    def columns(self) -> dict[str, npt.NDArray[np.generic]]: ...
    def payload(self, row: int) -> bytes: ...
    def copy(self) -> EventTable: ...
    def to_pandas(self, payloads: bool = ...) -> pandas.DataFrame: ...

class FileResult(NamedTuple):
    path: str
    table: Optional[EventTable]
    error: Optional[SmfError]

def list(data: _Bytes, score: bool = ..., *, fold_width: int = ..., note_names: int = ..., measure_mode: int = ...,
         merge_sysex: bool = ..., long_formats: bool = ...) -> str: ...
def assemble(text: Union[str, bytes], strict: bool = ..., *, packets: bool = ..., running_status: bool = ...) -> bytes: ...
def events(data: _Bytes) -> EventTable: ...
def from_events(table: EventTable) -> bytes: ...
def read_many(paths: Iterable[Union[str, os.PathLike[str]]], workers: Optional[int] = ...,
              batch: int = ...) -> Iterator[FileResult]: ...
