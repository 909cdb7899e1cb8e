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
once warm; then the listing alone in a second instance of the module, its
text dropped rather than made into a JavaScript string. smfcat listing to
/dev/null is the native conversion without writing the 127 MB, the fair
measure for that last one: writing a file and making a string both fill
fresh memory with the listing. Prints the medians and the ratios wasm /
native, and the gzip size of the .wasm and its glue.
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
        names = ("wasm list", "wasm assemble", "warm wasm list", "warm wasm assemble", "module list, no string")
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
        print(f"{warm}wasm / native, listing:    {median[warm + 'wasm list'] / median['smfdis']:.2f}"
              f"{'' if warm else '   (aim <= 2)'}")
        print(f"{warm}wasm / native, assembling: {median[warm + 'wasm assemble'] / median['smfasm']:.2f}"
              f"{'' if warm else '   (aim <= 2)'}")
    sizes = [len(gzip.compress(open(p, "rb").read(), 9)) for p in core]
    print(f"module / native, listing without making the string: {median['module list, no string'] / median['smfdis']:.2f}"
          f"   (against smfcat to /dev/null: {median['module list, no string'] / median['smfcat to /dev/null']:.2f})")
    print(f"gzip -9: wasm {sizes[0]} + glue {sizes[1]} = {sum(sizes)} bytes   (aim <= 80 KB)")


if __name__ == "__main__":
    main()
