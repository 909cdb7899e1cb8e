#!/usr/bin/env python3
"""Throughput and start-up benchmark: smfdis against midicsv and cat, smfcat
against smfdis, and smfasm against smfdis and csvmidi.

Usage: bench.py BUILD_DIR [--runs N] [--no-callgrind]

Generates a dense 16-track file of 1 MiB and of 16 MiB and a file holding one
16 MiB system-exclusive message (bench/make_midi.cpp), then times, interleaved
and several runs each: smfdis with default flags and with -bnv, smfcat with
default flags (its standard output to a file), midicsv on the same file, and
cat copying smfdis's own listing. Prints medians, the
ratio midicsv/smfdis, peak resident memory and time per input MiB.

Then the figures the programs are held to: instructions per event on the
dense 16 MiB file (valgrind --tool=callgrind, whole process; an event is a
listing line other than MFile, MTrk and TrkEnd), smfcat's instructions and
wall time against smfdis's, the wall ratios to cat and midicsv, a shell loop over 200 small files (2 to 97 KB) against the same loop
with midicsv, and the shared libraries each program needs (readelf -d).
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv, stdout_path=None):
    """Runs argv with stdin from /dev/null; returns (seconds, peak RSS KiB).

    The peak comes from /usr/bin/time: a child forked from this Python
    process would report Python's own resident pages as its peak."""
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    with open(os.devnull, "rb") as devnull, tempfile.NamedTemporaryFile("r") as rss:
        start = time.perf_counter()
        status = subprocess.call(["/usr/bin/time", "-q", "-f", "%M", "-o", rss.name, *argv],
                                 stdin=devnull, stdout=out, stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        peak = int(rss.read().split()[-1])
    if stdout_path:
        out.close()
    if status != 0:
        sys.exit(f"failed: {' '.join(argv)}")
    return elapsed, peak


def callgrind_instructions(argv, work):
    """Instructions executed by the whole process under callgrind."""
    out = os.path.join(work, "callgrind.out")
    with open(os.devnull, "rb") as devnull:
        run = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *argv],
                             stdin=devnull, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    os.remove(out)
    found = re.search(r"Collected : (\d+)", run.stderr)
    if run.returncode != 0 or not found:
        sys.exit(f"callgrind failed: {' '.join(argv)}")
    return int(found.group(1))


def listing_events(path):
    """Event lines of a listing: all but the header and track frame lines."""
    events = 0
    with open(path, "rb") as listing:
        for line in listing:
            if not line.startswith((b"MFile ", b"MTrk\n", b"TrkEnd\n", b"\t")):
                events += 1
    return events


def largest_track(path):
    """Bytes of the largest track chunk of a MIDI file."""
    data, at, largest = read_bytes(path), 14, 0
    while at + 8 <= len(data):
        length = int.from_bytes(data[at + 4:at + 8], "big")
        largest = max(largest, length)
        at += 8 + length
    return largest


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def needed_libraries(program):
    path = shutil.which(program) or program
    dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True).stdout
    return re.findall(r"\(NEEDED\).*\[(.*)\]", dynamic)


def small_files(make, work, count=200):
    """`count` dense files from 2 KB to 97 KB, spread evenly in size."""
    folder = os.path.join(work, "small")
    os.mkdir(folder)
    paths = []
    for i in range(count):
        kib = 2 + 95 * i / (count - 1)
        path = os.path.join(folder, f"song{i:03}.mid")
        subprocess.run([make, "dense", str(kib / 1024), path], check=True)
        paths.append(path)
    return paths


def time_loop(command, paths, out_dir):
    """Wall time of one shell loop running `command IN OUT` over `paths`;
    the outputs go to a fresh directory, so no run meets an old output."""
    if os.path.exists(out_dir):
        shutil.rmtree(out_dir)
    os.mkdir(out_dir)
    script = f'for f in "$@"; do {command} "$f" "{out_dir}/${{f##*/}}.out" </dev/null >/dev/null 2>&1; done'
    start = time.perf_counter()
    subprocess.run(["sh", "-c", script, "loop", *paths], check=True)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--no-callgrind", action="store_true", help="skip the instruction counts")
    args = parser.parse_args()
    tool = os.path.join(args.build, "smfdis")
    assembler = os.path.join(args.build, "smfasm")
    piped = os.path.join(args.build, "smfcat")
    make = os.path.join(args.build, "bench", "make_midi")
    have_midicsv = shutil.which("midicsv") is not None and shutil.which("csvmidi") is not None
    if not have_midicsv:
        print("midicsv is not installed (Debian package midicsv): its columns stay empty")

    work = tempfile.mkdtemp(prefix="smfasm-bench-")
    try:
        files = {}
        for name, mode, mib in (("dense 1 MiB", "dense", 1), ("dense 16 MiB", "dense", 16),
                                ("sysex 16 MiB", "sysex", 16)):
            path = os.path.join(work, f"{mode}{mib}.mid")
            subprocess.run([make, mode, str(mib), path], check=True)
            files[name] = (path, os.path.getsize(path) / 2**20)

        listing = os.path.join(work, "out.mtx")
        copy = os.path.join(work, "copy.mtx")
        piped_listing = os.path.join(work, "piped.mtx")
        csv = os.path.join(work, "out.csv")

        def ours(path, flags):
            if os.path.exists(listing):
                os.remove(listing)
            return timed([tool, *flags, path, listing])

        reassembled = os.path.join(work, "out.mid")

        def fresh(out, argv, stdout_path=None):
            # Every run writes a new file: truncating the last run's output
            # inside the timing would charge it the freeing of its blocks.
            for f in (out, stdout_path):
                if f and os.path.exists(f):
                    os.remove(f)
            return timed(argv, stdout_path)

        # What the assemblers read: each dense file's listing and CSV, made once.
        sources = {}
        for name, (path, _) in files.items():
            if name.startswith("dense"):
                fixed = os.path.join(work, os.path.basename(path) + ".mtx")
                subprocess.run([tool, path, fixed], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=True)
                fixed_csv = os.path.join(work, os.path.basename(path) + ".csv")
                if have_midicsv:
                    with open(fixed_csv, "wb") as out:
                        subprocess.run(["midicsv", path], stdout=out, check=True)
                sources[name] = (fixed, fixed_csv)

        results = {}
        for name, (path, mib) in files.items():
            cases = {"smfdis": lambda p=path: ours(p, []),
                     "smfdis -bnv": lambda p=path: ours(p, ["-bnv"]),
                     "smfcat": lambda p=path: fresh(None, [piped, p], piped_listing)}
            if have_midicsv and name.startswith("dense"):
                cases["midicsv"] = lambda p=path: timed(["midicsv", p], csv)
            if name in sources:
                fixed, fixed_csv = sources[name]
                cases["smfasm"] = lambda f=fixed: fresh(reassembled, [assembler, f, reassembled])
                if have_midicsv:
                    cases["csvmidi"] = lambda f=fixed_csv: fresh(reassembled, ["csvmidi", f, reassembled])
            samples = {case: [] for case in cases}
            samples["cat listing"] = []
            for _ in range(args.runs):
                for case, run in cases.items():
                    samples[case].append(run())
                    if case == "smfdis":
                        # Copy the listing this very run wrote.
                        samples["cat listing"].append(fresh(None, ["cat", listing], copy))
            results[name] = (mib, {case: (statistics.median(s for s, _ in runs), max(m for _, m in runs))
                                   for case, runs in samples.items()})
            for f in (csv, copy, piped_listing):
                if os.path.exists(f):
                    os.remove(f)

        print(f"{args.runs} interleaved runs each; medians of wall time, peak RSS over all runs\n")
        print(f"{'input':<14}{'case':<15}{'median s':>10}{'s per MiB':>11}{'peak RSS':>11}")
        for name, (mib, cases) in results.items():
            for case, (seconds, rss) in cases.items():
                print(f"{name:<14}{case:<15}{seconds:>10.4f}{seconds / mib:>11.4f}{rss / 1024:>8.1f} MiB")
        print()
        for name, (mib, cases) in results.items():
            if "midicsv" in cases:
                peer = cases["midicsv"][0]
                print(f"{name}: midicsv/smfdis {peer / cases['smfdis'][0]:.2f}, "
                      f"midicsv/smfdis -bnv {peer / cases['smfdis -bnv'][0]:.2f}, "
                      f"smfdis/cat {cases['smfdis'][0] / cases['cat listing'][0]:.2f}")
        small, big = results["dense 1 MiB"], results["dense 16 MiB"]
        for case in ("smfdis", "smfdis -bnv"):
            per_small = small[1][case][0] / small[0]
            per_big = big[1][case][0] / big[0]
            print(f"{case}: time per MiB at 16 MiB is {100 * (per_big / per_small - 1):+.1f} % of that at 1 MiB")

        # The small-file loop: start-up dominates files of a few KB.
        paths = small_files(make, work)
        loops = {"smfdis": [], "midicsv": []} if have_midicsv else {"smfdis": []}
        for _ in range(args.runs):
            loops["smfdis"].append(time_loop(tool, paths, os.path.join(work, "loop-out")))
            if have_midicsv:
                loops["midicsv"].append(time_loop("midicsv", paths, os.path.join(work, "loop-out")))
        loop = {case: statistics.median(runs) for case, runs in loops.items()}

        rows = []
        big_path = files["dense 16 MiB"][0]
        if not args.no_callgrind and shutil.which("valgrind"):
            for flags, limit in (([], 125), (["-bnv"], 165)):
                if os.path.exists(listing):
                    os.remove(listing)
                instructions = callgrind_instructions([tool, *flags, big_path, listing], work)
                per_event = instructions / listing_events(listing)
                rows.append((f"instructions per event, dense 16 MiB {' '.join(flags) or 'default'}",
                             f"{per_event:.1f}", f"<= {limit}", per_event <= limit))
        if not args.no_callgrind and shutil.which("valgrind"):
            # The same listing through standard output: the driver around
            # the core must cost nothing per event.
            instructions = callgrind_instructions([piped, big_path], work)
            per_event = instructions / listing_events(listing)
            lister_per_event = float(rows[0][1])
            rows.append(("smfcat instructions per event, dense 16 MiB default (smfdis + 1 %)", f"{per_event:.1f}",
                         f"<= {1.01 * lister_per_event:.1f}", per_event <= 1.01 * lister_per_event))
            fixed = sources["dense 16 MiB"][0]
            if os.path.exists(reassembled):
                os.remove(reassembled)
            instructions = callgrind_instructions([assembler, fixed, reassembled], work)
            rows.append(("smfasm instructions per event (listing line), dense 16 MiB",
                         f"{instructions / listing_events(fixed):.1f}", "", None))
        dense = big[1]
        rows.append(("wall smfcat / smfdis, dense 16 MiB", f"{dense['smfcat'][0] / dense['smfdis'][0]:.2f}", "<= 1.05",
                     dense["smfcat"][0] <= 1.05 * dense["smfdis"][0]))
        rows.append(("wall smfasm / smfdis, dense 16 MiB", f"{dense['smfasm'][0] / dense['smfdis'][0]:.2f}", "<= 1.5",
                     dense["smfasm"][0] <= 1.5 * dense["smfdis"][0]))
        if have_midicsv:
            rows.append(("wall csvmidi / smfasm, dense 16 MiB", f"{dense['csvmidi'][0] / dense['smfasm'][0]:.2f}",
                         ">= 5", dense["csvmidi"][0] >= 5 * dense["smfasm"][0]))
        track = largest_track(files["dense 16 MiB"][0])
        rows.append(("smfasm peak RSS - largest track, dense 16 MiB (MiB)",
                     f"{(dense['smfasm'][1] * 1024 - track) / 2**20:.1f}", "constant", None))
        rows.append(("wall smfdis / cat of its listing, dense 16 MiB",
                     f"{dense['smfdis'][0] / dense['cat listing'][0]:.2f}", "<= 3",
                     dense["smfdis"][0] <= 3 * dense["cat listing"][0]))
        if have_midicsv:
            rows.append(("wall midicsv / smfdis, dense 16 MiB", f"{dense['midicsv'][0] / dense['smfdis'][0]:.2f}",
                         ">= 8", dense["midicsv"][0] >= 8 * dense["smfdis"][0]))
            rows.append((f"200 small files: midicsv loop / smfdis loop ({1000 * loop['smfdis'] / len(paths):.2f} "
                         f"vs {1000 * loop['midicsv'] / len(paths):.2f} ms a file)",
                         f"{loop['midicsv'] / loop['smfdis']:.2f}", ">= 1.1", loop["midicsv"] >= 1.1 * loop["smfdis"]))
        for program in (tool, piped, assembler, "midicsv") if have_midicsv else (tool, piped, assembler):
            needed = needed_libraries(program)
            rows.append((f"NEEDED of {os.path.basename(program)}", " ".join(needed) or "(none)", "libc.so.6",
                         needed == ["libc.so.6"] if program in (tool, piped, assembler) else None))

        print(f"\n{'figure':<66}{'value':>32}  {'target':<10}")
        for figure, value, target, met in rows:
            verdict = "" if met is None else ("met" if met else "NOT met")
            print(f"{figure:<66}{value:>32}  {target:<10}{verdict}")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
