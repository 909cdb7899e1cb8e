"""The files the tests read: the round trip's own (real files made by other
installed software, the benchmark generator's files, the fuzz seeds, the
shipped demo), made once per session in a temporary directory."""
import os
import subprocess

import pytest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GENERATED = [("dense", "1"), ("sysex", "0.25"), ("every", "1"), ("every_smpte", "0.5", "0xE728"),
             ("every_division0", "0.25", "0"), *((f"habits{seed}", "0.03", str(seed)) for seed in range(1, 13))]


def _make_midi():
    found = os.environ.get("SMFASM_MAKE_MIDI") or os.path.join(SOURCE, "build", "bench", "make_midi")
    return found if os.access(found, os.X_OK) else None


@pytest.fixture(scope="session")
def corpus(tmp_path_factory):
    """Every round-trip file by name."""
    work = tmp_path_factory.mktemp("corpus")
    files = {}
    real = work / "real"
    real.mkdir()
    subprocess.run([os.path.join(SOURCE, "tests/support/make_real_files.sh"), str(real)], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    files.update((f"real/{p.name}", p) for p in sorted(real.iterdir()))
    make_midi = _make_midi()
    if make_midi:
        for name, *args in GENERATED:
            path = work / f"{name}.mid"
            kind = name.rstrip("0123456789").split("_")[0]
            subprocess.run([make_midi, kind, args[0], str(path), *args[1:]], check=True)
            files[f"generated/{name}"] = path
    seeds = os.path.join(SOURCE, "fuzz/corpus")
    for name in sorted(os.listdir(seeds)):
        # A seed's first byte picks the fuzzer's options; the rest is the file.
        path = work / f"seed-{name}.mid"
        with open(os.path.join(seeds, name), "rb") as f:
            path.write_bytes(f.read()[1:])
        files[f"seed/{name}"] = path
    files["demo"] = os.path.join(SOURCE, "examples/demo.mid")
    return files
