"""list(), assemble() and read_many(): the programs' cores from Python, with
errors as exceptions, warnings as warnings, and one result per file."""
import os
import warnings

import pytest

import smfasm


def test_list_and_assemble_give_the_file_back(corpus):
    data = open(corpus["demo"], "rb").read()
    assert smfasm.list(data) == open(os.path.join(os.path.dirname(corpus["demo"]), "demo.txt")).read()
    for score in (False, True):
        assert smfasm.assemble(smfasm.list(bytearray(data), score)) == data
    listing = smfasm.list(data, merge_sysex=False, long_formats=True, fold_width=20)
    assert smfasm.assemble(listing, packets=True) == data
    with pytest.raises(smfasm.SmfError, match="premature EOF") as error:
        smfasm.list(data[:-3])
    assert error.value.listing.startswith("MFile 0 1 96")
    for wrong in ("MThd", 3, None):
        with pytest.raises(TypeError):
            smfasm.list(wrong)
    with pytest.raises(TypeError):
        smfasm.list(data, fold_width="20")


def test_assembly_errors_and_warnings_carry_their_place():
    with pytest.raises(smfasm.SmfError) as error:
        smfasm.assemble("MFile 0 1 96\nMTrk\n0 Bogus 1 2\nTrkEnd\n")
    line, column, severity, text = error.value.messages[0]
    assert (line, severity) == (3, "error") and column > 0 and text
    hanging = "MFile 0 1 96\nMTrk\n0 On ch=1 n=60 v=64\n10 Meta TrkEnd\nTrkEnd\n"
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        data = smfasm.assemble(hanging)
    assert data.startswith(b"MThd") and caught and issubclass(caught[0].category, smfasm.SmfWarning)
    with pytest.raises(smfasm.SmfError):
        smfasm.assemble(hanging, strict=True)


def test_read_many_gives_one_result_per_file_in_order(corpus, tmp_path):
    (tmp_path / "text.mid").write_text("not a MIDI file")
    good = [str(p) for p in corpus.values()]
    paths = [good[0], str(tmp_path / "missing.mid"), str(tmp_path), str(tmp_path / "text.mid"), *good]
    results = list(smfasm.read_many(paths, workers=3, batch=7))
    assert [r.path for r in results] == paths
    assert "No such file" in str(results[1].error) and "Is a directory" in str(results[2].error)
    assert results[3].error.offset == 0 and "not a MIDI file" in str(results[3].error)
    for result in results[4:] + results[:1]:
        assert result.error is None
        assert smfasm.from_events(result.table) == open(result.path, "rb").read()
    assert list(smfasm.read_many([])) == []
    for wrong in ({"workers": 0}, {"workers": 1.5}):
        with pytest.raises(ValueError):
            smfasm.read_many(good, **wrong)
    with pytest.raises(TypeError):
        smfasm.read_many(good[0])
