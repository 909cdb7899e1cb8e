"""Standard MIDI Files as text and as a lossless table of events.

list() writes a file's listing, assemble() turns a listing back into the
file, events() gives every event of a file as numpy columns that
from_events() writes back byte for byte, and read_many() reads many files
at once in native threads. smfasm.dask spreads that over a cluster.
"""
import os
import warnings
from typing import NamedTuple

import numpy as np

from . import _smfasm

__all__ = ["SmfError", "SmfWarning", "EventTable", "FileResult", "list", "assemble", "events", "from_events",
           "read_many", "EVENT_COLUMNS"]

# The per-event columns, in the order to_pandas() gives them.
EVENT_COLUMNS = ("track", "tick", "bar", "beat", "beat_tick", "kind", "channel", "data1", "data2", "note_length",
                 "partner", "running", "status_mark", "end_position", "offset", "length")

# What from_events() reads of each column, and the values it accepts.
_WRITTEN = {
    "track": (np.int32, 0, 2**31 - 1),
    "tick": (np.int64, 0, 2**63 - 1),
    "kind": (np.uint8, 0, 255),
    "channel": (np.int8, -1, 15),
    "data1": (np.uint8, 0, 255),
    "data2": (np.uint8, 0, 255),
    "running": (np.uint8, 0, 1),
    "offset": (np.int64, 0, 2**63 - 1),
    "length": (np.int64, 0, 2**63 - 1),
}


class SmfError(Exception):
    """A file or listing that could not be converted.

    ``messages`` holds ``(line, column, severity, text)`` tuples: line and
    column are 1-based in a listing and 0 where they do not apply (a MIDI
    file's place is given as ``offset``, its byte, when known)."""

    def __init__(self, messages, offset=None):
        self.messages = messages
        self.offset = offset
        super().__init__("; ".join(_place(m) for m in messages) or "conversion failed")


class SmfWarning(UserWarning):
    """A listing that assembled but is probably not what was meant."""


def _place(message):
    line, column, _, text = message
    if line:
        return f"line {line}, column {column}: {text}" if column else f"line {line}: {text}"
    return text


class EventTable:
    """Every event of a MIDI file, one row each in file order, as numpy arrays.

    Per event: track, tick (from the track's start), bar/beat/beat_tick
    (-1 where the file's metre places no bars), kind (0x80 to 0xE0 for
    channel messages, 0xF0 and 0xF7 for SysEx packets, 0xFF for meta
    events), channel (0 to 15, -1 otherwise), data1 (the first data byte, or
    the meta type), data2, note_length (ticks, on a paired note's start;
    else -1), partner (the row of a paired note's other end, or -1), running
    (the file left out the status byte), status_mark and end_position (what
    the score form marks against the track's habits), and offset/length of
    a SysEx or meta payload in ``blob``.

    ``tracks`` holds per-track arrays: length (the declared chunk length
    where it differs from the events', else -1) and the byte habits
    end_velocity (-1: ends by note-on), running (a bit per message kind),
    carry and reverse. The header is format, track_count (as announced),
    division, header_length and header_extra."""

    __slots__ = ("format", "track_count", "division", "header_length", "header_extra", "tracks", "blob",
                 *EVENT_COLUMNS)

    def __init__(self, header, columns, tracks, blob):
        self.format, self.track_count, self.division, self.header_length, self.header_extra = header
        for name in EVENT_COLUMNS:
            setattr(self, name, columns[name])
        self.tracks = tracks
        self.blob = blob

    def __len__(self):
        return len(self.tick)

    def __repr__(self):
        return f"<EventTable: {len(self)} events in {len(self.tracks['length'])} tracks, format {self.format}>"

    def columns(self):
        """The per-event columns by name."""
        return {name: getattr(self, name) for name in EVENT_COLUMNS}

    def payload(self, row):
        """The SysEx or meta payload of one row, as bytes."""
        start = int(self.offset[row])
        return self.blob[start:start + int(self.length[row])]

    def copy(self):
        """A table whose columns may be changed without changing this one."""
        columns = {name: getattr(self, name).copy() for name in EVENT_COLUMNS}
        tracks = {name: column.copy() for name, column in self.tracks.items()}
        header = (self.format, self.track_count, self.division, self.header_length, self.header_extra)
        return EventTable(header, columns, tracks, self.blob)

    def to_pandas(self, payloads=False):
        """A pandas DataFrame with one row per event; with ``payloads`` a
        ``payload`` column holds each SysEx and meta payload as bytes (None
        on channel messages). The header, tracks and blob are in ``attrs``."""
        import pandas as pd

        frame = pd.DataFrame(self.columns(), copy=False)
        if payloads:
            frame["payload"] = _payloads(self)
        frame.attrs.update(format=self.format, track_count=self.track_count, division=self.division,
                           header_length=self.header_length, header_extra=self.header_extra,
                           tracks=self.tracks, blob=self.blob)
        return frame


def _payloads(table):
    out = np.full(len(table), None, dtype=object)
    blob = table.blob
    for row in np.flatnonzero(table.kind >= 0xF0):
        start = int(table.offset[row])
        out[row] = blob[start:start + int(table.length[row])]
    return out


class FileResult(NamedTuple):
    """One file of read_many(): its table, or the error that stopped it."""
    path: str
    table: "EventTable | None"
    error: "SmfError | None"


def _table(result, where=""):
    if not result[0]:
        _, text, offset = result
        raise SmfError([(0, 0, "error", f"{where}byte {offset}: {text}")], offset)
    return EventTable(*result[1:])


def list(data, score=False, *, fold_width=0, note_names=0, measure_mode=0, merge_sysex=True, long_formats=False):
    """The listing of a MIDI file's bytes, as smfcat writes it.

    ``score`` gives the score form; the other options are the lister's
    flags: fold_width (-f), note_names (-n, counted), measure_mode (-b,
    counted), merge_sysex (False is -m), long_formats (-v). Raises SmfError
    when the file does not list completely."""
    text, messages, status = _smfasm.list_file(data, bool(score), _count(fold_width), _count(note_names),
                                               _count(measure_mode), bool(merge_sysex), bool(long_formats))
    if status == 0 and not messages:
        return text
    lines = [line for line in messages.splitlines() if line.strip()]
    if status != 0:
        error = SmfError([(0, 0, "error", line) for line in lines] or [(0, 0, "error", "the file did not list")])
        error.listing = text
        raise error
    for line in lines:
        warnings.warn(line, SmfWarning, stacklevel=2)
    return text


def _count(value):
    if type(value) is int and 0 <= value <= 1000:
        return value
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"expected an int, not {type(value).__name__}")
    if not 0 <= value <= 1000:
        raise ValueError(f"{value} is out of range")
    return value


def assemble(text, strict=False, *, packets=False, running_status=True):
    """The MIDI file a listing describes, as bytes.

    ``strict`` makes every warning an error; ``packets`` reads a listing
    made with merge_sysex=False (-m); running_status=False writes every
    status byte. Errors raise SmfError; warnings go through the warnings
    module as SmfWarning."""
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogateescape")
    data, messages, errors = _smfasm.assemble_listing(text, bool(strict), bool(packets), bool(running_status))
    if errors:
        raise SmfError([m for m in messages if m[2] == "error"] or messages)
    for message in messages:
        warnings.warn(_place(message), SmfWarning, stacklevel=2)
    return data


def events(data):
    """The lossless event table of a MIDI file's bytes (see EventTable).

    Raises SmfError for bytes that are no MIDI file, a truncated one, or one
    the table could not give back byte for byte (padded variable-length
    numbers, chunks other than tracks, bytes after the last chunk)."""
    return _table(_smfasm.events(data))


def from_events(table):
    """The MIDI file an EventTable describes, as bytes: byte for byte the
    file it was read from when its columns are unchanged. Raises ValueError
    for columns that make no file."""
    if not isinstance(table, EventTable):
        raise TypeError(f"expected an EventTable, not {type(table).__name__}")
    columns = [_column(table, name) for name in ("track", "tick", "kind", "channel", "data1", "data2", "running",
                                                 "offset", "length")]
    header = (table.format, table.track_count, table.division, table.header_length, table.header_extra)
    track_length = np.asarray(table.tracks["length"], dtype=np.int64)
    return _smfasm.from_events(header, track_length, *columns, table.blob)


def _column(table, name):
    """A column as from_events() reads it; values that its type cannot hold
    are refused rather than wrapped."""
    dtype, low, high = _WRITTEN[name]
    values = np.asarray(getattr(table, name))
    if values.ndim != 1:
        raise ValueError(f"column {name} is not one-dimensional")
    if values.dtype != dtype:
        if values.size and values.dtype.kind not in "iub":
            raise ValueError(f"column {name} holds {values.dtype}, not integers")
        if values.size and (values.min() < low or values.max() > high):
            raise ValueError(f"column {name} holds values outside {low} to {high}")
        values = values.astype(dtype)
    return values


def read_many(paths, workers=None, batch=64):
    """Reads many MIDI files into EventTables, in native threads.

    Yields one FileResult per path, in order, as batches of ``batch`` files
    are done: a file that cannot be read or decoded gives its error and
    stops nothing else. ``workers`` threads (default: one per core); memory
    stays that of one batch however many files there are."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("expected several paths (a list of them, say), not one")
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int) or workers < 1):
        raise ValueError("workers must be a positive int or None")
    return _read_many(paths, workers or 0, max(1, int(batch)))


def _read_many(paths, workers, batch):
    pending = []
    for path in paths:
        pending.append(os.fsdecode(path))
        if len(pending) == batch:
            yield from _read_batch(pending, workers)
            pending = []
    if pending:
        yield from _read_batch(pending, workers)


def _read_batch(paths, workers):
    for path, result in zip(paths, _smfasm.read_files(paths, workers)):
        if result[0]:
            yield FileResult(path, EventTable(*result[1:]), None)
        elif result[2] == 0 and result[1].startswith("cannot read"):
            yield FileResult(path, None, SmfError([(0, 0, "error", f"{path}: {result[1]}")]))
        else:
            yield FileResult(path, None, SmfError([(0, 0, "error", f"{path}: byte {result[2]}: {result[1]}")],
                                                  result[2]))
