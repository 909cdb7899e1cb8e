"""Builds the module from the project's own core sources, with Debian's
pybind11 and numpy and nothing downloaded:

    pip install --no-build-isolation ./python

The sources are the groups the top CMakeLists.txt names, read from it so
that the two builds cannot drift apart."""
import os
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def core_sources():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        cmake = f.read()
    sources = []
    for group in ("LISTER", "WRITER", "SCORE", "TABLE", "ASSEMBLER"):
        found = re.search(rf"set\(SMFASM_{group}_SOURCES\s([^)]*)\)", cmake)
        if not found:
            raise SystemExit(f"CMakeLists.txt names no SMFASM_{group}_SOURCES")
        sources += found.group(1).split()
    # setuptools takes only paths relative to this folder (pip builds here).
    return [os.path.relpath(os.path.join(ROOT, s), HERE) for s in sources]


# Two compilers at a time at most: the machines are shared.
ParallelCompile(default=2).install()

setup(
    ext_modules=[Pybind11Extension("smfasm._smfasm", ["src/module.cpp", *core_sources()],
                                   include_dirs=[os.path.relpath(ROOT, HERE)], cxx_std=20)],
    cmdclass={"build_ext": build_ext},
)
