#!/usr/bin/env python3
"""The Python module's figures: events() per file counting the Python call,
list() against the native lister in-process, read_many()'s files per second
per core, and read_many()'s memory over 10,000 files.

Usage: python_bench.py BUILD_DIR [--rounds N]
Run with Debian's /usr/bin/python3; the module is taken from
BUILD_DIR/python/package. The corpus is 200 dense files of 2 to 97 KB
(bench.py's small files) and the real files the tests make with midicsv and
abcmidi. Rounds are interleaved and medians reported.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def small_files(make, folder, count=200):
    paths = []
    for i in range(count):
        path = os.path.join(folder, f"song{i:03}.mid")
        subprocess.run([make, "dense", str((2 + 95 * i / (count - 1)) / 1024), path], check=True)
        paths.append(path)
    return paths


def listable(smfasm, path):
    try:
        smfasm.list(open(path, "rb").read())
        return True
    except smfasm.SmfError:
        return False


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python", "package"))
    import smfasm

    with tempfile.TemporaryDirectory() as work:
        real_dir = os.path.join(work, "real")
        os.mkdir(real_dir)
        subprocess.run([os.path.join(SOURCE, "tests/support/make_real_files.sh"), real_dir], check=True,
                       stdout=subprocess.DEVNULL)
        corpora = {
            "dense 2-97 KB": small_files(os.path.join(args.build, "bench", "make_midi"), work),
            "real (midicsv, abcmidi)": sorted(os.path.join(real_dir, f) for f in os.listdir(real_dir)),
        }
        for name, paths in corpora.items():
            # list() is held to files that list completely.
            paths = [p for p in paths if listable(smfasm, p)]
            datas = [open(p, "rb").read() for p in paths]
            size = sum(len(d) for d in datas) / len(datas) / 1024
            ev, li, na, many = [], [], [], []
            for _ in range(args.rounds):
                start = time.perf_counter()
                for d in datas:
                    smfasm.events(d)
                ev.append(time.perf_counter() - start)
                start = time.perf_counter()
                for d in datas:
                    smfasm.list(d)
                li.append(time.perf_counter() - start)
                native = subprocess.run([os.path.join(args.build, "bench", "list_native"), "3", *paths],
                                        capture_output=True, text=True, check=True)
                na.append(float(native.stdout.split()[0]))
                start = time.perf_counter()
                for _ in smfasm.read_many(paths, workers=1):
                    pass
                many.append(time.perf_counter() - start)
            n = len(datas)
            m = statistics.median
            print(f"{name}: {n} files, {size:.1f} KiB on average")
            print(f"  events(): {1e6 * m(ev) / n:.1f} us per file (from bytes in memory)")
            print(f"  list(): {1e6 * m(li) / n:.1f} us per file; native list_bytes {1e6 * m(na) / n:.1f} us; "
                  f"ratio {m(li) / m(na):.3f}")
            print(f"  read_many(workers=1), files read from disk: {n / m(many):.0f} files per second per core")

        # Memory: 10,000 files (links to the corpus) read and dropped.
        folder = os.path.join(work, "many")
        os.mkdir(folder)
        paths = []
        corpus = corpora["dense 2-97 KB"]
        for i in range(10000):
            paths.append(os.path.join(folder, f"{i:05}.mid"))
            os.link(corpus[i % len(corpus)], paths[-1])
        samples = {}
        start = time.perf_counter()
        for i, result in enumerate(smfasm.read_many(paths), 1):
            assert result.error is None
            if i in (1000, 2000, 5000, 10000):
                samples[i] = rss_kib()
        elapsed = time.perf_counter() - start
        cores = len(os.sched_getaffinity(0))
        print(f"read_many over 10,000 files with {cores} threads: {10000 / elapsed:.0f} files per second; "
              f"resident KiB after " + ", ".join(f"{k}: {v}" for k, v in samples.items()) +
              f"; peak {resource.getrusage(resource.RUSAGE_SELF).ru_maxrss} KiB")


if __name__ == "__main__":
    main()
