"""Event tables of many files as one dask dataframe, for one machine or many.

read_events() plans one partition per group of files; whatever scheduler is
current computes it: dask's threads by default, or a distributed cluster
once a ``distributed.Client`` for its scheduler's address exists.
"""
import glob as _glob
import os

import numpy as np
import pandas as pd

import smfasm

__all__ = ["read_events", "events_frame"]

_DTYPES = {"track": np.int32, "tick": np.int64, "bar": np.int64, "beat": np.int64, "beat_tick": np.int64,
           "kind": np.uint8, "channel": np.int8, "data1": np.uint8, "data2": np.uint8, "note_length": np.int64,
           "partner": np.int64, "running": np.uint8, "status_mark": np.uint8, "end_position": np.int32,
           "offset": np.int64, "length": np.int64}


def _empty():
    frame = pd.DataFrame({"file": pd.Series([], dtype=object)})
    for name in smfasm.EVENT_COLUMNS:
        frame[name] = pd.Series([], dtype=_DTYPES[name])
    frame["payload"] = pd.Series([], dtype=object)
    frame["error"] = pd.Series([], dtype=object)
    return frame


def events_frame(paths, workers=None):
    """One pandas DataFrame of the events of ``paths``: a ``file`` column,
    the EventTable's columns and each SysEx or meta ``payload`` as bytes. A
    file that could not be read or decoded gives one row with its
    ``error`` (and -1 or 0 elsewhere), so no file goes missing unsaid."""
    frames = []
    for result in smfasm.read_many(paths, workers=workers):
        if result.table is not None:
            frame = result.table.to_pandas(payloads=True)
            frame.attrs.clear()
            frame.insert(0, "file", result.path)
            frame["error"] = None
        else:
            frame = _empty().reindex([0])
            frame["file"] = result.path
            frame["error"] = str(result.error)
            for name in smfasm.EVENT_COLUMNS:
                frame[name] = -1 if np.issubdtype(_DTYPES[name], np.signedinteger) else 0
                frame[name] = frame[name].astype(_DTYPES[name])
        frames.append(frame)
    if not frames:
        return _empty()
    return pd.concat(frames, ignore_index=True)


def _expand(paths_or_glob):
    if isinstance(paths_or_glob, (str, os.PathLike)):
        pattern = os.fspath(paths_or_glob)
        paths = sorted(_glob.glob(pattern, recursive=True))
        if not paths:
            raise FileNotFoundError(f"no file matches {pattern}")
        return paths
    return [os.fspath(p) for p in paths_or_glob]


def read_events(paths_or_glob, files_per_partition=256):
    """A dask DataFrame of the events of many MIDI files: one partition per
    ``files_per_partition`` files, each row an event with its ``file`` (see
    events_frame()). Nothing is read until it is computed; the files must
    be readable at the same paths wherever the workers run."""
    import dask.dataframe as dd

    paths = _expand(paths_or_glob)
    groups = [paths[i:i + files_per_partition] for i in range(0, len(paths), files_per_partition)]
    if not groups:
        return dd.from_pandas(_empty(), npartitions=1)
    return dd.from_map(_read_group, groups, meta=_empty(), enforce_metadata=False)


def _read_group(paths):
    # One thread per partition: dask runs several partitions at once.
    return events_frame(paths, workers=1)
