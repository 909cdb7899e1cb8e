#!/usr/bin/env bash
# npm test: the package's tests against the native programs of the build
# directory (build/ in the repository, or $SMFASM_BUILD), over the files the
# CTest run uses (tests/web/node_tests.sh). Says what to build first when
# the programs or the module are missing.
set -euo pipefail
source=$(cd "$(dirname "$0")/../../.." && pwd)
build=${SMFASM_BUILD:-$source/build}
first="From the repository's root, run first:
  cmake -S . -B build && cmake --build build -j2 && bash web/build.sh
(or set SMFASM_BUILD to a build directory that has smfdis, smfasm, smfcat and bench/make_midi)"
for program in smfdis smfasm smfcat bench/make_midi; do
  [ -x "$build/$program" ] || { echo "$build/$program is not built. $first"; exit 1; }
done
[ -f "$source/web/npm/smfasm-core.wasm" ] || {
  echo "The WebAssembly module is not built. From the repository's root, run first: bash web/build.sh"
  exit 1
}
exec bash "$source/tests/web/node_tests.sh" "$build/smfdis" "$build/smfasm" "$build/bench/make_midi" "$source"
