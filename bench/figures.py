#!/usr/bin/env python3
"""The figures both directions are held to, in one run, for the dense files.

Usage: figures.py BUILD_DIR [--runs N] [--wasm]

1. Instructions (valgrind --tool=callgrind, whole process) on the dense
   1 MiB file and on the 1 MiB file with 2 % short lyrics: the lister per
   event, the assembler per listing line, each for the tick listing and the
   score form, and the score form's ratios.
2. Wall medians on the dense 16 MiB file, interleaved runs: smfcat and
   smfcat --score writing to a file, cat copying the tick listing, smfasm
   assembling each listing; with the ratios lister/cat, assembler/lister
   and score/tick in both directions.
3. With --wasm (web/build.sh done), bench/wasm.py's wasm/native ratios.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import callgrind_instructions, listing_events  # noqa: E402


def wall(argv, stdout_path):
    with open(os.devnull, "rb") as devnull, open(stdout_path, "wb") as out:
        start = time.perf_counter()
        subprocess.run(argv, stdin=devnull, stdout=out, stderr=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--wasm", action="store_true")
    args = parser.parse_args()
    smfcat, smfasm = os.path.join(args.build, "smfcat"), os.path.join(args.build, "smfasm")
    make = os.path.join(args.build, "bench", "make_midi")
    with tempfile.TemporaryDirectory(prefix="smfasm-figures-") as work:
        def path(name):
            return os.path.join(work, name)

        print("instructions (callgrind, whole process)")
        for mode in ("dense", "lyrics"):
            song = path(f"{mode}1.mid")
            subprocess.run([make, mode, "1", song], check=True)
            counts = {}
            for form, flags in (("tick", []), ("score", ["--score"])):
                listing = path(f"{mode}-{form}.mtx")
                with open(listing, "wb") as out:
                    subprocess.run([smfcat, *flags, song], stdout=out, check=True)
                events = listing_events(listing)
                lister = callgrind_instructions([smfcat, *flags, song], work)
                assembler = callgrind_instructions([smfasm, listing, path("out.mid")], work)
                os.remove(path("out.mid"))
                counts[form] = (lister, assembler)
                print(f"  {mode} 1 MiB, {form:5}: lister {lister / 1e6:7.1f} M ({lister / events:6.1f} per event), "
                      f"assembler {assembler / 1e6:7.1f} M ({assembler / events:6.1f} per line)")
            print(f"  {mode} 1 MiB, score/tick: lister {counts['score'][0] / counts['tick'][0]:.2f}x, "
                  f"assembler {counts['score'][1] / counts['tick'][1]:.2f}x")

        song = path("dense16.mid")
        subprocess.run([make, "dense", "16", song], check=True)
        tick, score = path("tick.mtx"), path("score.mtx")
        subprocess.run([smfcat, song], stdout=open(tick, "wb"), check=True)
        subprocess.run([smfcat, "--score", song], stdout=open(score, "wb"), check=True)
        runs = {name: [] for name in ("cat", "list tick", "list score", "assemble tick", "assemble score")}
        for _ in range(args.runs):
            runs["cat"].append(wall(["cat", tick], path("copy")))
            runs["list tick"].append(wall([smfcat, song], path("t.out")))
            runs["list score"].append(wall([smfcat, "--score", song], path("s.out")))
            for form, listing in (("tick", tick), ("score", score)):
                out = path(f"{form}.mid")
                if os.path.exists(out):
                    os.remove(out)
                runs[f"assemble {form}"].append(wall([smfasm, listing, out], path("err")))
        median = {name: statistics.median(times) for name, times in runs.items()}
        print(f"wall medians, dense 16 MiB, {args.runs} interleaved runs")
        for name, value in median.items():
            print(f"  {name:15} {value:.3f} s")
        print(f"  lister / cat {median['list tick'] / median['cat']:.2f}x; "
              f"assembler / lister {median['assemble tick'] / median['list tick']:.2f}x; "
              f"score / tick: lister {median['list score'] / median['list tick']:.2f}x, "
              f"assembler {median['assemble score'] / median['assemble tick']:.2f}x")

    if args.wasm:
        subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "wasm.py"),
                        args.build, "--runs", str(args.runs)], check=True)


if __name__ == "__main__":
    main()
