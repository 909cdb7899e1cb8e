#!/usr/bin/env python3
"""The WebAssembly module against the native programs.

Usage: wasm.py BUILD_DIR [--runs N]

BUILD_DIR holds the native build (smfdis, smfasm, bench/make_midi); the npm
package must be built (web/build.sh). On the dense 16 MiB file, times in
turn, interleaved: smfdis writing its listing, smfasm assembling that
listing, and one Node process that lists the file and assembles the listing
through the package twice (bench/wasm_run.mjs; each conversion timed inside
the process, with the copies into and out of JavaScript, after the module
has loaded): the first round is what a user meets, the second the module
once warm. Each round converts through bytes (listBytes(), assemble() of a
Uint8Array: what a caller writing files or posting to a worker gets) and
through strings (list(), assemble() of text). Then the listing alone in a
second instance of the module, its text dropped rather than gathered.
smfcat listing to /dev/null is the native conversion without writing the
127 MB, the fair measure for that last one: writing a file and gathering
the bytes both fill fresh memory with the listing. Prints the medians and
the ratios wasm / native, and the gzip size of the .wasm and its glue.
"""
import argparse
import gzip
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def wall(argv):
    with open(os.devnull, "rb") as devnull:
        start = time.perf_counter()
        subprocess.run(argv, stdin=devnull, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    smfdis, smfasm, smfcat = (os.path.join(args.build, p) for p in ("smfdis", "smfasm", "smfcat"))
    package = os.path.join(ROOT, "web", "npm")
    core = [os.path.join(package, f) for f in ("smfasm-core.wasm", "smfasm-core.js")]
    if not all(os.path.exists(p) for p in core):
        sys.exit("the npm package is not built: run web/build.sh")

    with tempfile.TemporaryDirectory() as work:
        midi, listing = os.path.join(work, "dense.mid"), os.path.join(work, "dense.mtx")
        subprocess.run([os.path.join(args.build, "bench", "make_midi"), "dense", "16", midi], check=True)
        wall([smfdis, midi, listing])
        names = ("wasm listBytes", "wasm assemble bytes", "wasm list (string)", "wasm assemble string",
                 "warm wasm listBytes", "warm wasm assemble bytes", "warm wasm list (string)",
                 "warm wasm assemble string", "module list, dropped")
        times = {name: [] for name in ("smfdis", "smfasm", *names, "smfcat to /dev/null")}
        for _ in range(args.runs):
            out = os.path.join(work, "out.mtx")
            times["smfdis"].append(wall([smfdis, midi, out]))
            os.remove(out)
            out = os.path.join(work, "out.mid")
            times["smfasm"].append(wall([smfasm, listing, out]))
            os.remove(out)
            run = subprocess.run(["node", os.path.join(ROOT, "bench", "wasm_run.mjs"), midi, listing],
                                 capture_output=True, text=True, check=True)
            rounds = [float(x) for x in run.stdout.split()]
            for name, seconds in zip(names, rounds):
                times[name].append(seconds)
            times["smfcat to /dev/null"].append(wall([smfcat, midi]))

    median = {k: statistics.median(v) for k, v in times.items()}
    print(f"dense 16 MiB, medians of {args.runs} interleaved runs:")
    for name, seconds in median.items():
        print(f"  {name:22} {seconds * 1000:8.1f} ms")
    for warm in ("", "warm "):
        aim = "" if warm else "   (aim <= 2)"
        print(f"{warm}wasm / native, listing to bytes:     {median[warm + 'wasm listBytes'] / median['smfdis']:.2f}{aim}")
        print(f"{warm}wasm / native, assembling bytes:     {median[warm + 'wasm assemble bytes'] / median['smfasm']:.2f}{aim}")
        print(f"{warm}wasm / native, listing to a string:  {median[warm + 'wasm list (string)'] / median['smfdis']:.2f}")
        print(f"{warm}wasm / native, assembling a string:  {median[warm + 'wasm assemble string'] / median['smfasm']:.2f}")
    sizes = [len(gzip.compress(open(p, "rb").read(), 9)) for p in core]
    print(f"module / native, listing dropped: {median['module list, dropped'] / median['smfdis']:.2f}"
          f"   (against smfcat to /dev/null: {median['module list, dropped'] / median['smfcat to /dev/null']:.2f})")
    print(f"gzip -9: wasm {sizes[0]} + glue {sizes[1]} = {sum(sizes)} bytes   (aim <= 80 KB)")


if __name__ == "__main__":
    main()
