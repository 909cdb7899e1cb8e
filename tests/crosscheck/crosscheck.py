#!/usr/bin/env python3
"""Compares smfdis listings, event by event, with midicsv's decoding of the
same real MIDI files.

Both listings are reduced to one tuple per event (track, tick, kind, values);
where the two tools differ by design the midicsv side is transformed
explicitly (see EXPECTED DIFFERENCES below), never skipped.

Usage: crosscheck.py SMFDIS FILE.mid...
Exit status 0 when every file agrees in both sysex modes, 1 otherwise, 77
(skipped) when midicsv is not installed and SMFASM_REQUIRE_CROSSCHECK is
not set.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

# EXPECTED DIFFERENCES
# 1. Joined system exclusive: midicsv lists every packet; smfdis (without
#    -m) joins an F0 packet lacking its closing F7 with the F7 packets that
#    follow, on one line at the time of the closing packet. The midicsv side
#    is joined here the same way; a track ending with the message still open
#    drops it, and any other event while it is open is the "didn't find
#    expected continuation of a sysex" error that ends the listing.
# 2. midicsv decodes meta types 0x20 (channel prefix) and 0x21 (port) as
#    numbers; smfdis dumps their payload bytes as an unrecognised meta type.
# 3. midicsv names "Unknown_meta_event" what smfdis dumps as "Meta 0x%02x";
#    both keep type and bytes, compared as such.
# 4. midicsv gives the time-signature exponent, smfdis the denominator.
# 5. midicsv prints the end-of-track meta event as End_track; smfdis as
#    "Meta TrkEnd". The chunk boundaries (Start_track, "MTrk"/"TrkEnd") are
#    compared as track numbers.

TEXT_TYPES = {"Text_t": 1, "Copyright_t": 2, "Title_t": 3, "Instrument_name_t": 4,
              "Lyric_t": 5, "Marker_t": 6, "Cue_point_t": 7}
MTX_TEXT_TYPES = {"Text": 1, "Copyright": 2, "SeqName": 3, "TrkName": 3, "InstrName": 4,
                  "Lyric": 5, "Marker": 6, "Cue": 7, "Unrec": 8}


def csv_fields(line):
    """Splits one midicsv record, keeping a quoted string as raw bytes."""
    fields, i = [], 0
    while i < len(line):
        while i < len(line) and line[i] in b" \t":
            i += 1
        if i < len(line) and line[i:i + 1] == b'"':
            i += 1
            text = bytearray()
            while True:
                c = line[i:i + 1]
                if c == b'"':
                    if line[i + 1:i + 2] == b'"':
                        text += b'"'
                        i += 2
                        continue
                    i += 1
                    break
                if c == b"\\":
                    if line[i + 1:i + 2] == b"\\":
                        text += b"\\"
                        i += 2
                        continue
                    text.append(int(line[i + 1:i + 4], 8))
                    i += 4
                    continue
                text += c
                i += 1
            fields.append(bytes(text))
            j = line.find(b",", i)
            i = len(line) if j < 0 else j + 1
        else:
            j = line.find(b",", i)
            j = len(line) if j < 0 else j
            fields.append(line[i:j].strip().decode("latin-1"))
            i = j + 1
    return fields


def from_midicsv(path, joined):
    out = subprocess.run(["midicsv", path], check=True, capture_output=True).stdout
    events, error = [], None
    pending = None
    for raw in out.split(b"\n"):
        if not raw.strip() or error:
            continue
        f = csv_fields(raw.rstrip(b"\r"))
        track, tick, kind = int(f[0]), int(f[1]), f[2]
        v = f[3:]
        ints = lambda: [int(x) for x in v]
        if kind == "Header":
            events.append((0, 0, "MFile", tuple(ints())))
            continue
        if kind == "End_of_file":
            continue
        if kind == "Start_track":
            pending = None
            events.append((track, 0, "MTrk", ()))
            continue
        if joined and pending is not None and kind != "System_exclusive_packet":
            error = "Error: didn't find expected continuation of a sysex"
            continue
        if kind == "System_exclusive":
            data = bytes([0xF0] + ints()[1:])
            if joined and data[-1] != 0xF7:
                pending = data
                continue
            event = ("SysEx", data)
        elif kind == "System_exclusive_packet":
            data = bytes(ints()[1:])
            if pending is None:
                event = ("Arb", data)
            else:
                pending += data
                if data and data[-1] != 0xF7:
                    continue
                event, pending = ("SysEx", pending), None
        elif kind in ("Note_on_c", "Note_off_c", "Poly_aftertouch_c", "Control_c"):
            ch, a, b = ints()
            event = ({"Note_on_c": "On", "Note_off_c": "Off", "Poly_aftertouch_c": "PoPr",
                      "Control_c": "Par"}[kind], (ch + 1, a, b))
        elif kind in ("Pitch_bend_c", "Program_c", "Channel_aftertouch_c"):
            ch, a = ints()
            event = ({"Pitch_bend_c": "Pb", "Program_c": "PrCh", "Channel_aftertouch_c": "ChPr"}[kind],
                     (ch + 1, a))
        elif kind in TEXT_TYPES:
            event = ("Text", (TEXT_TYPES[kind], v[0]))
        elif kind == "Sequence_number":
            event = ("SeqNr", tuple(ints()))
        elif kind == "End_track":
            event = ("MetaTrkEnd", ())
        elif kind == "Tempo":
            event = ("Tempo", tuple(ints()))
        elif kind == "SMPTE_offset":
            event = ("SMPTE", tuple(ints()))
        elif kind == "Time_signature":
            num, exp, clocks, n32 = ints()
            event = ("TimeSig", (num, 2 ** exp, clocks, n32))
        elif kind == "Key_signature":
            event = ("KeySig", (int(v[0]), v[1].decode()))
        elif kind == "Sequencer_specific":
            event = ("SeqSpec", bytes(ints()[1:]))
        elif kind == "Channel_prefix":
            event = ("MetaOther", (0x20, bytes(ints())))
        elif kind == "MIDI_port":
            event = ("MetaOther", (0x21, bytes(ints())))
        elif kind == "Unknown_meta_event":
            t, _n, *data = ints()
            event = ("MetaOther", (t, bytes(data)))
        else:
            raise ValueError(f"{path}: midicsv record not understood: {raw!r}")
        events.append((track, tick) + event)
    return events, error


HEX = re.compile(r"[0-9a-f]{2}")


def unquote(text):
    assert text[0] == '"' and text[-1] == '"', text
    out, i, body = bytearray(), 0, text[1:-1]
    simple = {"0": 0, "n": 10, "r": 13, '"': 34, "\\": 92}
    while i < len(body):
        c = body[i]
        if c == "\\":
            nxt = body[i + 1]
            if nxt == "x":
                out.append(int(body[i + 2:i + 4], 16))
                i += 4
            else:
                out.append(simple[nxt])
                i += 2
        else:
            out.append(ord(c))
            i += 1
    return bytes(out)


def hex_bytes(words):
    assert all(HEX.fullmatch(w) for w in words), words
    return bytes(int(w, 16) for w in words)


def from_listing(text):
    events, track = [], 0
    for line in text.split("\n"):
        if not line:
            continue
        if line.startswith("MFile "):
            events.append((0, 0, "MFile", tuple(int(x) for x in line.split()[1:])))
            continue
        if line == "MTrk":
            track += 1
            events.append((track, 0, "MTrk", ()))
            continue
        if line == "TrkEnd":
            continue
        tick, rest = line.split(" ", 1)
        tick = int(tick)
        words = rest.split(" ")
        kind = words[0]
        if kind in ("On", "Off", "PoPr", "Par", "Pb", "PrCh", "ChPr"):
            event = (kind, tuple(int(w.split("=")[1]) for w in words[1:]))
        elif kind in ("SysEx", "Arb", "SeqSpec"):
            event = (kind, hex_bytes(words[1:]))
        elif kind == "Meta":
            label = words[1]
            if label == "TrkEnd":
                event = ("MetaTrkEnd", ())
            elif label.startswith("0x") and rest.count('"') == 0:
                event = ("MetaOther", (int(label, 16), hex_bytes(words[2:])))
            else:
                quoted = rest.split(" ", 2)[2]
                event = ("Text", (int(label, 16) if label.startswith("0x") else MTX_TEXT_TYPES[label],
                                  unquote(quoted)))
        elif kind == "TimeSig":
            num, den = words[1].split("/")
            event = ("TimeSig", (int(num), int(den), int(words[2]), int(words[3])))
        elif kind == "KeySig":
            event = ("KeySig", (int(words[1]), words[2]))
        elif kind in ("SeqNr", "Tempo", "SMPTE"):
            event = (kind, tuple(int(w) for w in words[1:]))
        else:
            raise ValueError(f"listing line not understood: {line!r}")
        events.append((track, tick) + event)
    return events


def run_smfdis(binary, path, flags, workdir):
    out = os.path.join(workdir, "out.mtx")
    if os.path.exists(out):
        os.remove(out)
    with open(os.devnull) as devnull:
        run = subprocess.run([binary, *flags, path, out], stdin=devnull, capture_output=True)
    with open(out, encoding="latin-1") as f:
        return run.returncode, run.stderr.decode("latin-1"), f.read()


def check(binary, path, workdir):
    failures = []
    for flags, joined in (([], True), (["-m"], False)):
        before = len(failures)
        expected, error = from_midicsv(path, joined)
        status, messages, listing = run_smfdis(binary, path, flags, workdir)
        actual = from_listing(listing)
        label = f"{os.path.basename(path)} {' '.join(flags) or '(joined)'}"
        if error:
            if status != 1 or error not in messages:
                failures.append(f"{label}: expected the error {error!r}, got status {status}: {messages!r}")
        elif status != 0:
            failures.append(f"{label}: status {status}: {messages!r}")
        for i, (want, got) in enumerate(zip(expected, actual)):
            if want != got:
                failures.append(f"{label}: event {i} differs:\n  midicsv  {want!r:.300}\n  smfdis {got!r:.300}")
                break
        else:
            if len(expected) != len(actual):
                failures.append(f"{label}: {len(expected)} events from midicsv, {len(actual)} from smfdis")
        if len(failures) == before:
            print(f"ok   {label}: {len(actual)} events")
    return failures


def main():
    if shutil.which("midicsv") is None:
        print("midicsv is not installed (Debian package midicsv)")
        return 1 if os.environ.get("SMFASM_REQUIRE_CROSSCHECK") else 77
    binary, files = sys.argv[1], sys.argv[2:]
    failures = []
    with tempfile.TemporaryDirectory() as workdir:
        for path in files:
            failures += check(binary, path, workdir)
    for f in failures:
        print("FAIL", f)
    print(f"{len(files) * 2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
