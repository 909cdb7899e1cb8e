"""The event table: lossless over every round-trip file, in step with the
score form, editable, and refusing what it cannot give back."""
import random
import re

import numpy as np
import pytest

import smfasm

TIME = re.compile(rb"^(\d+(?::\d+:\d+)?) ", re.M)


def test_every_file_comes_back_and_agrees_with_the_score_form(corpus):
    assert len(corpus) >= 40  # real, generated, seeds and the demo
    for name, path in corpus.items():
        data = open(path, "rb").read()
        table = smfasm.events(data)
        assert smfasm.from_events(table) == data, name
        # The score form writes a line for every event but a paired note's
        # end, at the table's bar:beat:tick (or tick where no bars).
        try:
            listing = smfasm.list(data, score=True, merge_sysex=False)
        except smfasm.SmfError:
            continue
        shown = (table.partner < 0) | (table.note_length >= 0)
        expected = [(f"{b}:{bt}:{t}" if b > 0 else f"{tick}").encode()
                    for b, bt, t, tick in zip(table.bar[shown], table.beat[shown], table.beat_tick[shown],
                                              table.tick[shown])]
        assert TIME.findall(listing.encode()) == expected, name
        assert listing.count(" len=") == int((table.note_length >= 0).sum()), name


def test_columns_and_payloads(corpus):
    table = smfasm.events(open(corpus["demo"], "rb").read())
    assert (table.format, table.track_count, table.division) == (0, 1, 96)
    assert table.payload(0) == b"Demo" and table.data1[0] == 0x03
    start = int(np.flatnonzero((table.kind == 0x90) & (table.data2 > 0))[0])
    end = int(table.partner[start])
    assert table.note_length[start] == table.tick[end] - table.tick[start] == 96
    assert table.running[end] == 1 and table.partner[end] == start
    frame = table.to_pandas(payloads=True)
    assert list(frame.columns[:16]) == list(smfasm.EVENT_COLUMNS)
    assert frame.payload[0] == b"Demo" and frame.payload[start] is None


def test_edits_write_a_sound_file(corpus):
    data = open(corpus["generated/habits3"], "rb").read()
    table = smfasm.events(data).copy()
    notes = (table.kind == 0x80) | (table.kind == 0x90)
    table.data1[notes] = np.minimum(table.data1[notes] + 12, 127)
    moved = smfasm.events(smfasm.from_events(table))
    assert np.array_equal(moved.data1, table.data1) and np.array_equal(moved.tick, table.tick)
    # A running status byte that no longer repeats the one before is written.
    table = smfasm.events(data).copy()
    running = np.flatnonzero(table.running == 1)[0]
    table.channel[running] = (table.channel[running] + 1) % 16
    again = smfasm.events(smfasm.from_events(table))
    assert again.channel[running] == table.channel[running] and again.running[running] == 0
    # Widened columns are taken when their values fit, refused when not.
    table = smfasm.events(data).copy()
    table.data1 = table.data1.astype(np.int64)
    assert smfasm.from_events(table) == data
    table.data1[5] = 300
    with pytest.raises(ValueError, match="data1"):
        smfasm.from_events(table)


def test_columns_that_make_no_file_are_refused(corpus):
    data = open(corpus["demo"], "rb").read()
    cases = {
        "before the tick": lambda t: t.tick.__setitem__(-1, 0),
        "track is out of order": lambda t: t.track.__setitem__(0, 3),
        "no kind of event": lambda t: t.kind.__setitem__(3, 0x42),
        "outside the blob": lambda t: t.length.__setitem__(0, 1000),
        "differ in length": lambda t: setattr(t, "tick", t.tick[:-1]),
    }
    for text, edit in cases.items():
        table = smfasm.events(data).copy()
        edit(table)
        with pytest.raises(ValueError, match=text):
            smfasm.from_events(table)
    with pytest.raises(TypeError):
        smfasm.from_events({"tick": []})


def test_declared_lengths_and_header_bytes_are_kept():
    def track(body, declared=None):
        return b"MTrk" + (len(body) if declared is None else declared).to_bytes(4, "big") + body

    body = b"\x00\x90\x3c\x40\x60\x3c\x00\x00\xff\x2f\x00"
    odd = [
        b"MThd\x00\x00\x00\x08\x00\x01\x00\x02\x00\x60\xab\xcd" + track(body) + track(b""),
        # Events that run past their chunk's declared end.
        b"MThd\x00\x00\x00\x06\x00\x01\x00\x02\x00\x60" + track(b"\x00\x90\x3c\x40\x60\x3c\x00", 5) + track(body),
        b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60" + track(b"", declared=0x80000000),
        # Running status carries across meta events and SysEx.
        b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60" + track(b"\x00\x90\x3c\x40\x00\xff\x01\x01a\x00\xf0\x01"
                                                             b"\xf7\x00\x3c\x00"),
    ]
    for data in odd:
        table = smfasm.events(data)
        assert smfasm.from_events(table) == data
    table = smfasm.events(odd[1]).copy()
    assert table.tracks["length"][0] == 5
    table.tick[:2] = [200, 296]  # a longer first delta: the second event now starts at the declared end
    with pytest.raises(ValueError, match="declared length"):
        smfasm.from_events(table)


def test_bad_input_raises_a_clear_error(corpus):
    data = open(corpus["real/ce3k.mid"], "rb").read()
    refused = {
        b"": "not a MIDI file",
        b"RIFF....": "not a MIDI file",
        data[:14] + b"MTrk\x00\x00\x00\x05\x80\x00\x90\x3c\x40": "padded",
        data[:14] + b"MTrk\x00\x00\x00\x04\x00\x3c\x40\x00": "running status with no status",
        data + b"MTr": "no chunk",
        data + b"RIFF\x00\x00\x00\x00": "not a track",
    }
    for bad, text in refused.items():
        with pytest.raises(smfasm.SmfError, match=text) as error:
            smfasm.events(bad)
        assert error.value.messages[0][2] == "error"
    # Every cut of a file is refused or decodes to what it holds.
    for size in range(len(data)):
        try:
            assert smfasm.from_events(smfasm.events(data[:size])) == data[:size]
        except smfasm.SmfError:
            pass
    # Mutated files, a little fuzzing: refused, or given back exactly.
    rng = random.Random(7)
    for _ in range(3000):
        mutated = bytearray(data[: rng.randrange(14, len(data))])
        for _ in range(rng.randrange(1, 6)):
            mutated[rng.randrange(len(mutated))] = rng.randrange(256)
        try:
            assert smfasm.from_events(smfasm.events(mutated)) == bytes(mutated)
        except smfasm.SmfError:
            pass
    for wrong in ("MThd", 42, None, [1, 2]):
        with pytest.raises(TypeError):
            smfasm.events(wrong)
