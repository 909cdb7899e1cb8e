#!/usr/bin/env python3
"""Runs the Python module's pytest suite against the package folder the
CMake build made.

Usage: run.py PACKAGE_DIR MAKE_MIDI SOURCE_DIR
Exit 77 (skipped) when Debian's numpy, pandas, dask, distributed or pytest
is missing, unless SMFASM_REQUIRE_PYTHON is set; 1 when pytest finds no
tests, which must never pass for success.
"""
import os
import sys


def main():
    package_dir, make_midi, source = sys.argv[1:4]
    try:
        import dask  # noqa: F401
        import distributed  # noqa: F401
        import numpy  # noqa: F401
        import pandas  # noqa: F401
        import pytest
    except ImportError as missing:
        print(f"{missing.name} is not installed (Debian package python3-{missing.name})")
        sys.exit(1 if os.environ.get("SMFASM_REQUIRE_PYTHON") else 77)

    # The Dask test's worker processes import the package too.
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [package_dir, os.environ.get("PYTHONPATH")]))
    os.environ["SMFASM_MAKE_MIDI"] = make_midi
    sys.path.insert(0, package_dir)
    code = pytest.main([os.path.join(source, "python", "tests"), "-q", "-p", "no:cacheprovider"])
    sys.exit(1 if code == pytest.ExitCode.NO_TESTS_COLLECTED else int(code))


# The Dask test's worker processes are started by spawning: they import
# this script again, and must not run the suite again.
if __name__ == "__main__":
    main()
