#!/usr/bin/env python3
"""The round trip, over the benchmark generator's files, the fuzz seeds, the
shipped demo and the real files made by other software that is installed,
under every flag set users list with:

1. smfdis S (smfasm S (smfdis S F)) is byte-identical to smfdis S F;
2. smfcat S F writes the very bytes smfdis S F writes into its listing
   file, and succeeds or fails as smfdis does;
3. a file written the canonical way (the generator's dense and sysex files,
   the shipped demo) comes back byte for byte; for the real files the count
   that does is reported, with default settings and with the better of
   default and --no-running-status;
4. the one file that does not come back: a 0-byte file lists as an empty
   listing, which smfasm refuses (no MFile line), writing nothing;
5. the score form: every file that lists completely comes back byte for
   byte through smfcat --score -m and smfasm, and lists the same again
   under the score form's other flag sets; smfasm says nothing of such a
   listing but what the file really holds (notes that never end, data
   bytes with the top bit set, ...). Generated files that keep their byte
   habits only mostly are among them. The count of real files the tick
   listing and the score form give back, and the share of notes written
   as Note lines, are reported.

With --witness, instead: python3-mido reads each -m reassembly as the same
messages, track by track, as the original (files mido cannot read at all are
reported and skipped: mido is the witness here, not the subject).

Usage: roundtrip.py SMFDIS SMFASM SMFCAT MAKE_MIDI SOURCE_DIR [--witness]
Exit 0 when all holds, 1 otherwise; with --witness 77 (skipped) when mido is
missing and SMFASM_REQUIRE_CROSSCHECK is not set.
"""
import os
import subprocess
import sys
import tempfile

SCORE_FLAG_SETS = [["--score", "-m"], ["--score"], ["-s", "-v", "-f20"], ["-sm", "-v", "-f1"]]
# What smfasm may say of a score listing the lister wrote: only what is in
# the file itself.
FILE_FAULTS = ("sounding", "still sounds", "ends no note", "data byte", "pitch bend", "after the track's Meta TrkEnd", "announces")
FLAG_SETS = [[], ["-b"], ["-n"], ["-v"], ["-m"], ["-f1"], ["-f20"], ["-f40"], ["-bnv"], ["-bnvm", "-f25"]]


def run(argv):
    with open(os.devnull, "rb") as devnull:
        return subprocess.run(argv, stdin=devnull, capture_output=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Checker:
    def __init__(self, smfdis, smfasm, smfcat, work):
        self.smfdis, self.smfasm, self.smfcat, self.work = smfdis, smfasm, smfcat, work
        self.failures = []
        self.checks = 0

    def tmp(self, name):
        path = os.path.join(self.work, name)
        if os.path.exists(path):
            os.remove(path)
        return path

    def listing(self, flags, path, out):
        return run([self.smfdis, *flags, path, out]).returncode == 0

    def assemble(self, flags, listing, out, extra=()):
        packets = ["-m"] if any("m" in f for f in flags) else []
        done = run([self.smfasm, *packets, *extra, listing, out])
        return done.returncode == 0, done.stderr.decode("latin-1")

    def round_trip(self, path):
        for flags in FLAG_SETS:
            first, midi, second = self.tmp("a.mtx"), self.tmp("b.mid"), self.tmp("c.mtx")
            label = f"{os.path.basename(path)} {' '.join(flags) or '(no flags)'}"
            listed = self.listing(flags, path, first)
            self.checks += 1
            piped = run([self.smfcat, *flags, path])
            if piped.stdout != read(first) or (piped.returncode == 0) != listed:
                self.failures.append(f"{label}: smfcat differs from smfdis (status {piped.returncode})")
            if not listed or os.path.getsize(path) == 0:
                continue  # only listings that succeed are a round trip's start (see empty_file_stays_empty)
            self.checks += 1
            ok, messages = self.assemble(flags, first, midi)
            if not ok:
                self.failures.append(f"{label}: smfasm failed: {messages[:500]}")
            elif "past the end of its" in messages:
                self.failures.append(f"{label}: smfasm finds a beat or tick past its bar in the lister's own times")
            elif not self.listing(flags, midi, second) or read(first) != read(second):
                self.failures.append(f"{label}: the reassembled file lists differently")

    def score_round_trip(self, path):
        """Returns True when the score form gives the file back byte for byte."""
        whole = run([self.smfcat, "-m", path])
        # Only files that list completely; a warning of what the tick listing
        # cannot give back is no reason to leave a file out.
        said = whole.stderr.decode("latin-1").splitlines()
        if whole.returncode != 0 or any(" gives back " not in line for line in said) or os.path.getsize(path) == 0:
            return None
        exact = False
        for flags in SCORE_FLAG_SETS:
            label = f"{os.path.basename(path)} {' '.join(flags)}"
            listing, midi = self.tmp("s.mtx"), self.tmp("s.mid")
            listed = run([self.smfcat, *flags, path])
            tick_flags = [f.replace("s", "") for f in flags if f != "--score" and f != "-s"]
            if run([self.smfcat, *tick_flags, path]).returncode != 0:
                continue  # joined SysEx messages that do not list without -m
            self.checks += 1
            if listed.returncode != 0 or listed.stderr:
                self.failures.append(f"{label}: the score form does not list a complete file")
                continue
            with open(listing, "wb") as f:
                f.write(listed.stdout)
            ok, messages = self.assemble(flags, listing, midi)
            said = [line for line in messages.splitlines() if ": warning: " in line or ": error: " in line]
            odd = [line for line in said if not any(fault in line for fault in FILE_FAULTS)]
            if not ok:
                self.failures.append(f"{label}: smfasm failed: {messages[:500]}")
            elif odd:
                self.failures.append(f"{label}: smfasm warns of what is not in the file: {odd[0]}")
            elif "-m" in flags or "-sm" in flags:
                exact = read(midi) == read(path)
                if not exact:
                    self.failures.append(f"{label}: not given back byte for byte")
            elif run([self.smfcat, *flags, midi]).stdout != listed.stdout:
                self.failures.append(f"{label}: the reassembled file lists differently")
        return exact

    @staticmethod
    def note_lines(listing):
        """Note lines and the notes left as lines of their own (On v>0)."""
        notes = single = 0
        for line in listing.splitlines():
            words = line.split()
            if len(words) > 1 and words[1] == b"Note":
                notes += 1
            elif len(words) > 4 and words[1] == b"On" and words[4] not in (b"v=0", b"vol=0"):
                single += 1
        return notes, single

    def comes_back(self, path, extra=()):
        listing, midi = self.tmp("a.mtx"), self.tmp("b.mid")
        if not self.listing([], path, listing):
            return False
        ok, _ = self.assemble([], listing, midi, extra)
        return ok and read(midi) == read(path)

    def empty_file_stays_empty(self):
        empty, listing, midi = self.tmp("empty.mid"), self.tmp("a.mtx"), self.tmp("b.mid")
        open(empty, "wb").close()
        self.checks += 1
        done = run([self.smfasm, listing, midi]) if self.listing([], empty, listing) else None
        if done is None or read(listing) != b"" or done.returncode != 1 or os.path.exists(midi) \
                or b"no MFile line" not in done.stderr:
            self.failures.append("a 0-byte file: not an empty listing that smfasm refuses without writing")

    def mido_agrees(self, mido, path):
        listing, midi = self.tmp("a.mtx"), self.tmp("b.mid")
        if not self.listing(["-m"], path, listing):
            return None
        try:
            original = mido.MidiFile(path, clip=True)
        except Exception as error:  # noqa: BLE001 - any refusal means mido can't witness
            print(f"mido cannot read {os.path.basename(path)} ({error}); skipped")
            return None
        self.checks += 1
        ok, messages = self.assemble(["-m"], listing, midi)
        if not ok:
            self.failures.append(f"{os.path.basename(path)} -m: smfasm failed: {messages[:500]}")
            return False
        again = mido.MidiFile(midi, clip=True)
        if [[m.dict() for m in t] for t in original.tracks] != [[m.dict() for m in t] for t in again.tracks]:
            self.failures.append(f"{os.path.basename(path)}: mido reads the -m reassembly differently")
            return False
        return True


def main():
    smfdis, smfasm, smfcat, make_midi, source = sys.argv[1:6]
    witness = "--witness" in sys.argv[6:]
    required = bool(os.environ.get("SMFASM_REQUIRE_CROSSCHECK"))
    if witness:
        try:
            import mido
        except ImportError:
            print("python3-mido is not installed (Debian package python3-mido)")
            return 1 if required else 77

    with tempfile.TemporaryDirectory() as work:
        real_dir, gen_dir, seed_dir = (os.path.join(work, d) for d in ("real", "generated", "seeds"))
        for d in (real_dir, gen_dir, seed_dir):
            os.mkdir(d)
        # Whatever other software is installed adds its files; what is left
        # out is said there.
        if subprocess.run([os.path.join(source, "tests/support/make_real_files.sh"), real_dir]).returncode != 0:
            return 1
        real = sorted(os.path.join(real_dir, f) for f in os.listdir(real_dir))

        generated = {}
        for name, args in (("dense", ["dense", "1"]), ("sysex", ["sysex", "0.25"]), ("every", ["every", "1"]),
                           ("every_smpte", ["every", "0.5", "0xE728"]), ("every_division0", ["every", "0.25", "0"]),
                           *((f"habits{seed}", ["habits", "0.03", str(seed)]) for seed in range(1, 13))):
            generated[name] = os.path.join(gen_dir, name + ".mid")
            subprocess.run([make_midi, *args[:2], generated[name], *args[2:]], check=True)
        seeds = []
        corpus = os.path.join(source, "fuzz/corpus")
        for name in sorted(os.listdir(corpus)):
            # A seed's first byte picks the fuzzer's options; the rest is the file.
            seeds.append(os.path.join(seed_dir, name + ".mid"))
            with open(seeds[-1], "wb") as f:
                f.write(read(os.path.join(corpus, name))[1:])
        demo = os.path.join(source, "examples/demo.mid")

        checker = Checker(smfdis, smfasm, smfcat, work)
        if witness:
            # The habit files carry running status across meta events, which
            # the standard forbids and mido reads its own way.
            witnessed = [checker.mido_agrees(mido, p) for p in real + list(generated.values())
                         if not os.path.basename(p).startswith("habits")]
            print(f"mido agrees on {witnessed.count(True)} -m reassemblies")
        else:
            for path in real + list(generated.values()) + seeds + [demo]:
                checker.round_trip(path)
            score_exact = {p: checker.score_round_trip(p) for p in real + list(generated.values()) + seeds + [demo]}
            checker.empty_file_stays_empty()
            for path in (generated["dense"], generated["sysex"], demo):
                checker.checks += 1
                if not checker.comes_back(path):
                    checker.failures.append(
                        f"{os.path.basename(path)}: written canonically, but not given back byte for byte")
            identical = [p for p in real if checker.comes_back(p)]
            either = [p for p in real if p in identical or checker.comes_back(p, ["--no-running-status"])]
            print(f"real files given back byte for byte: {len(identical)} of {len(real)} by default, "
                  f"{len(either)} with the better of default and --no-running-status")
            for p in real:
                if p not in either:
                    print(f"  differs: {os.path.basename(p)}")
            complete = [p for p, exact in score_exact.items() if exact is not None]
            print(f"score form (-m): {sum(1 for p in complete if score_exact[p])} of {len(complete)} files that list "
                  f"completely given back byte for byte; real files: "
                  f"{sum(1 for p in real if score_exact.get(p))} of {len(real)} (tick listing: {len(either)})")
            notes = single = 0
            for p in real:
                n, s = Checker.note_lines(run([smfcat, "--score", p]).stdout)
                notes, single = notes + n, single + s
            if notes + single:
                print(f"real files' notes written as Note lines: {notes} of {notes + single} "
                      f"({100.0 * notes / (notes + single):.2f} %)")

    for failure in checker.failures:
        print("FAIL", failure)
    print(f"{checker.checks - len(checker.failures)} passed, {len(checker.failures)} failed")
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
