"""The Dask frame on a real cluster of two worker processes agrees with the
single-process tables, file by file."""
import numpy as np
import pytest

import smfasm
import smfasm.dask

distributed = pytest.importorskip("distributed")


def test_local_cluster_agrees_with_one_process(corpus, tmp_path):
    missing = str(tmp_path / "missing.mid")
    paths = [str(p) for p in corpus.values()] + [missing]
    frame = smfasm.dask.read_events(paths, files_per_partition=8)
    assert frame.npartitions == (len(paths) + 7) // 8
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        starts = frame[(frame.kind == 0x90) & (frame.note_length >= 0)].groupby("file").size().compute()
        events = frame.groupby("file").size().compute()
        errors = frame[frame.error.notnull()].compute()
    for result in smfasm.read_many(paths):
        if result.error is not None:
            continue
        table = result.table
        assert events[result.path] == len(table)
        assert starts.get(result.path, 0) == np.count_nonzero((table.kind == 0x90) & (table.note_length >= 0))
    assert list(errors.file) == [missing] and "No such file" in errors.error.iloc[0]
