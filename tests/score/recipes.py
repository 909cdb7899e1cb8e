#!/usr/bin/env python3
"""The README's score-form recipes, run exactly as a user copies them, on
real and generated files in a scratch directory, standard input from
/dev/null. Each result is judged by its tick listing, not its score form,
so that the score form's own reading cannot hide its faults: the transposed
track moved and nothing else did, the tempo is 96 bpm and only that
changed, the cut bar's notes went and the rest moved a bar earlier; no edit
leaves a note hanging or makes smfasm --strict complain.

Usage: recipes.py BUILD_DIR README SOURCE_DIR MAKE_MIDI"""
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile

build, readme, source, make_midi = (os.path.abspath(a) for a in sys.argv[1:5])
env = dict(os.environ, PATH=build + os.pathsep + os.environ["PATH"], LC_ALL="C")
failures = 0


def check(what, ok, detail=""):
    global failures
    if ok:
        print("ok:", what)
    else:
        failures += 1
        print("FAIL:", what, detail)


def run(command, cwd, shell=False):
    with open(os.devnull) as null:
        return subprocess.run(command, cwd=cwd, env=env, stdin=null, capture_output=True, shell=shell,
                              executable="/bin/bash" if shell else None)


def recipes():
    """The sh block of the README's score-form section, one pipeline a line."""
    text = open(readme, encoding="utf-8").read()
    section = text.split("\n## The score form", 1)[1].split("\n## ", 1)[0]
    block = re.search(r"\n```sh\n(.*?)\n```", section, re.S)
    if not block:
        sys.exit("FAIL: no sh block under \"## The score form\" in the README")
    found = {}
    for line in block.group(1).splitlines():
        if "$up" in line:
            found["transpose"] = line
        elif "96bpm" in line:
            found["tempo"] = line
        elif "$cut" in line:
            found["cut"] = line
    if len(found) != 3:
        sys.exit("FAIL: the README's score-form block lacks a recipe: found only " + ", ".join(found))
    return found


def tick_listing(path, cwd):
    """MFile words and each track's (tick, event text) lines."""
    out = run(["smfcat", path], cwd)
    assert out.returncode == 0, out.stderr.decode()
    header, tracks = None, []
    for line in out.stdout.decode("latin-1").splitlines():
        if line.startswith("MFile"):
            header = line.split()
        elif line == "MTrk":
            tracks.append([])
        elif line != "TrkEnd":
            time, text = line.split(" ", 1)
            tracks[-1].append((int(time), text))
    return header, tracks


NOTE = re.compile(r"(On|Off|PoPr) ch=(\d+) n=(\d+)(?: v=(\d+))?")


def is_end(text):
    m = NOTE.match(text)
    return m and (m.group(1) == "Off" or (m.group(1) == "On" and m.group(4) == "0"))


def hanging(tracks):
    """Per track: notes never ended and ends with nothing sounding, paired
    first in, first out per channel and key."""
    counts = []
    for track in tracks:
        sounding, lone = collections.Counter(), 0
        for _, text in track:
            m = NOTE.match(text)
            if not m or m.group(1) == "PoPr":
                continue
            key = m.group(2, 3)
            if is_end(text):
                if sounding[key]:
                    sounding[key] -= 1
                else:
                    lone += 1
            else:
                sounding[key] += 1
        counts.append((sum(sounding.values()), lone))
    return counts


def bar_starts(header, track, bars):
    """The tick where each of `bars` begins, by the signatures in `track`:
    4/4 at first, a signature inside a bar starting a new bar."""
    division = int(header[3])
    segments = [(0, 1, division * 4)]  # start, first bar, ticks per bar
    for time, text in track:
        m = re.match(r"TimeSig (\d+)/(\d+) ", text)
        if not m:
            continue
        start, first, per_bar = segments[-1]
        into = time - start
        bar = first + (-(-into // per_bar) if into > 0 else 0)
        segments.append((time, bar, division * 4 // int(m.group(2)) * int(m.group(1))))
    result = []
    for bar in bars:
        start, first, per_bar = [s for s in segments if s[1] <= bar][-1]
        result.append(start + (bar - first) * per_bar)
    return result


def expected_cut(track, start, end):
    """The track with the bar [start, end) cut as the README says: its notes
    and Meta lines gone, what else it holds moved to its start, the end of
    the track where it stood, later events a bar earlier; notes keep their
    lengths."""
    length = end - start
    sounding = collections.defaultdict(collections.deque)
    result = []
    for time, text in track:
        m = NOTE.match(text)
        if m and m.group(1) != "PoPr" and is_end(text) and sounding[m.group(2, 3)]:
            begun, moved = sounding[m.group(2, 3)].popleft()
            if moved is not None:
                result.append((moved + time - begun, text))
            continue
        if time < start:
            moved = time
        elif time >= end:
            moved = time - length
        elif text == "Meta TrkEnd":
            moved = time
        elif m or text.startswith("Meta "):
            moved = None
        else:
            moved = start
        if m and m.group(1) == "On" and not is_end(text):
            sounding[m.group(2, 3)].append((time, moved))
        if moved is not None:
            result.append((moved, text))
    return sorted(result)


def strict_round(path, cwd):
    """The result's score form assembles, saying nothing but what the song itself holds."""
    listing = run(["smfcat", "-s", path], cwd)
    with open(os.path.join(cwd, "strict.mtx"), "wb") as f:
        f.write(listing.stdout)
    assembled = run(["smfasm", "strict.mtx", "strict.mid"], cwd)
    # Notes that never end and offs with nothing sounding are the songs'
    # own (the dense and generated files have them); the model checks
    # that the edits add none. Anything else said is a fault.
    said = [line for line in assembled.stderr.decode().splitlines()
            if ": warning: " in line and "ends no note" not in line and "still sounds" not in line]
    ok = assembled.returncode == 0 and not said
    for name in ("strict.mtx", "strict.mid"):
        if os.path.exists(os.path.join(cwd, name)):
            os.remove(os.path.join(cwd, name))
    return ok, assembled.stderr.decode()


# A song of 10 bars that meets each case of a cut at bar 8: a marker, a
# controller, a program and a note inside it, a note begun before it that
# sounds through it, a time signature inside it (3/4 from there on, so bar
# 9 starts there), a track that ends in it; a note that never ends and an
# end with nothing sounding, which must stay as they are.
def generated_listing():
    lines = ["MFile 1 3 96", "MTrk", "0 Meta SeqName \"Cut\"", "0 Tempo 500000", "0 TimeSig 4/4 24 8",
             "1536 Tempo 400000", "2700 Meta Marker \"bridge\"", "2880 TimeSig 3/4 24 8", "2880 Tempo 600000",
             "4032 Meta TrkEnd", "TrkEnd", "MTrk", "0 PrCh ch=1 p=5"]
    events = [(100, "Off ch=1 n=40 v=64")]
    for beat in range(28):  # quarter notes through bar 7
        key = 60 + beat % 12
        events += [(beat * 96, "On ch=1 n=%d v=80" % key), (beat * 96 + 90, "Off ch=1 n=%d v=64" % key)]
    events += [(2600, "On ch=1 n=50 v=70"), (3000, "Off ch=1 n=50 v=64"), (2700, "On ch=1 n=90 v=70"),
               (2750, "Off ch=1 n=90 v=64"), (2720, "PoPr ch=1 n=90 v=30"), (2750, "Par ch=1 c=7 v=100"),
               (2800, "PrCh ch=1 p=9"), (2800, "Pb ch=1 v=9000")]
    for beat in range(12):  # 3/4 bars from 2880
        time, key = 2880 + beat * 96, 70 + beat
        events += [(time, "On ch=1 n=%d v=90" % key), (time + 48, "On ch=1 n=%d v=0" % key)]
    events.append((3900, "On ch=1 n=45 v=60"))
    lines += ["%d %s" % e for e in sorted(events, key=lambda e: e[0])]
    lines += ["4032 Meta TrkEnd", "TrkEnd", "MTrk"]
    lines += ["%d On ch=10 n=36 v=100\n%d Off ch=10 n=36 v=0" % (b * 384, b * 384 + 20) for b in range(8)]
    lines += ["2750 Meta TrkEnd", "TrkEnd"]
    return "\n".join(lines) + "\n"


def main():
    if not shutil.which("perl"):
        print("perl is not installed (Debian package perl)")
        return 1 if os.environ.get("SMFASM_REQUIRE_CROSSCHECK") else 77
    lines = recipes()
    up = int(re.search(r"\$up = (-?\d+)", lines["transpose"]).group(1))
    cut = int(re.search(r"\$cut = (\d+)", lines["cut"]).group(1))
    output = {name: line.split()[-1] for name, line in lines.items()}

    work = tempfile.mkdtemp()
    try:
        files = os.path.join(work, "files")
        os.mkdir(files)
        made = run(["bash", os.path.join(source, "tests/support/make_real_files.sh"), files], work)
        print(made.stdout.decode(), end="")
        # The torture test is malformed on purpose: no listing to edit.
        for name in ("torture.mid",):
            if os.path.exists(os.path.join(files, name)):
                os.remove(os.path.join(files, name))
        shutil.copy(os.path.join(source, "examples/demo.mid"), files)
        with open(os.path.join(files, "cut.mtx"), "w") as f:
            f.write(generated_listing())
        # Not --strict: its note that never ends and its end with nothing
        # sounding are warned about, and meant.
        assert run(["smfasm", "cut.mtx", "generated.mid"], files).returncode == 0
        os.remove(os.path.join(files, "cut.mtx"))
        # Random keys all over the range: an octave up leaves it.
        assert run([make_midi, "dense", "0.02", "dense.mid"], files).returncode == 0

        cuts_made = 0
        for name in sorted(os.listdir(files)):
            song = os.path.join(work, "song")
            shutil.rmtree(song, ignore_errors=True)
            os.mkdir(song)
            shutil.copy(os.path.join(files, name), os.path.join(song, "song.mid"))
            header, before = tick_listing("song.mid", song)
            before_hanging = hanging(before)

            def edited(recipe):
                done = run(lines[recipe], song, shell=True)
                path = os.path.join(song, output[recipe])
                return done, path

            # Transposing the second track.
            done, path = edited("transpose")
            second = before[1] if len(before) > 1 else []
            keys = [int(NOTE.match(t).group(3)) + up for _, t in second if NOTE.match(t)]
            if any(k < 0 or k > 127 for k in keys):
                check(name + ": a note out of range stops the transposition and writes nothing",
                      done.returncode != 0 and b"out of range" in done.stderr and not os.path.exists(path))
            else:
                check(name + ": the transposition runs", done.returncode == 0, done.stderr.decode())
                if done.returncode == 0:
                    _, after = tick_listing(path, song)
                    moved = [list(t) for t in before]
                    if len(moved) > 1:
                        moved[1] = [(time, re.sub(r"^((?:On|Off|PoPr) ch=\d+ n=)(\d+)",
                                                  lambda m: m.group(1) + str(int(m.group(2)) + up), text))
                                    for time, text in moved[1]]
                    check(name + ": the second track's notes moved, nothing else", after == moved)
                    check(name + ": the transposition leaves no note hanging", hanging(after) == before_hanging)
                    check(name + ": the transposed song assembles under --strict", *strict_round(path, song))

            # The tempo at 96 bpm.
            done, path = edited("tempo")
            check(name + ": the tempo change runs", done.returncode == 0, done.stderr.decode())
            if done.returncode == 0:
                _, after = tick_listing(path, song)
                tempos = [(i, t) for i, track in enumerate(after) for t in track if t[1].startswith("Tempo ")]
                check(name + ": one tempo, 96 bpm, at the song's start", tempos == [(0, (0, "Tempo 625000"))], tempos)
                plain = lambda tracks: [[e for e in t if not e[1].startswith("Tempo ")] for t in tracks]
                check(name + ": nothing else changed", plain(after) == plain(before))
                check(name + ": the slower song assembles under --strict", *strict_round(path, song))

            # Cutting a bar.
            done, path = edited("cut")
            check(name + ": the cut runs", done.returncode == 0, done.stderr.decode())
            if done.returncode == 0:
                _, after = tick_listing(path, song)
                expected = []
                for i, track in enumerate(before):
                    conductor = track if header[1] == "2" else before[0]
                    start, end = bar_starts(header, conductor, [cut, cut + 1])
                    expected.append(expected_cut(track, start, end))
                    cuts_made += len(expected[-1]) < len(track)
                check(name + ": the cut took out bar %d and moved the later bars" % cut,
                      [sorted(t) for t in after] == expected)
                # The cut bar's own lone notes and ends go with it; no others may appear.
                check(name + ": the cut leaves no note hanging",
                      all(a <= b and c <= d for (a, c), (b, d) in zip(hanging(after), before_hanging)))
                check(name + ": the shorter song assembles under --strict", *strict_round(path, song))
        check("some file had bar %d to cut" % cut, cuts_made > 0)
    finally:
        shutil.rmtree(work)
    print(failures, "failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
