#!/usr/bin/env python3
"""Throughput benchmark: smfdis against midicsv on generated dense files.

Usage: bench.py BUILD_DIR [--runs N]

Generates a dense 16-track file of 1 MiB and of 16 MiB and a file holding one
16 MiB system-exclusive message (bench/make_midi.cpp), then times, interleaved
and several runs each: smfdis with default flags and with -bnv, midicsv on
the same file, and cat copying smfdis's own listing. Prints medians, the
ratio midicsv/smfdis, peak resident memory and time per input MiB.
"""
import argparse
import os
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    tool = os.path.join(args.build, "smfdis")
    make = os.path.join(args.build, "bench", "make_midi")
    have_midicsv = shutil.which("midicsv") is not None
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
        csv = os.path.join(work, "out.csv")

        def ours(path, flags):
            if os.path.exists(listing):
                os.remove(listing)
            return timed([tool, *flags, path, listing])

        results = {}
        for name, (path, mib) in files.items():
            cases = {"smfdis": lambda p=path: ours(p, []),
                     "smfdis -bnv": lambda p=path: ours(p, ["-bnv"])}
            if have_midicsv and name.startswith("dense"):
                cases["midicsv"] = lambda p=path: timed(["midicsv", p], csv)
            samples = {case: [] for case in cases}
            samples["cat listing"] = []
            for _ in range(args.runs):
                for case, run in cases.items():
                    samples[case].append(run())
                    if case == "smfdis":
                        # Copy the listing this very run wrote.
                        samples["cat listing"].append(timed(["cat", listing], copy))
            results[name] = (mib, {case: (statistics.median(s for s, _ in runs), max(m for _, m in runs))
                                   for case, runs in samples.items()})
            for f in (csv, copy):
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
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
