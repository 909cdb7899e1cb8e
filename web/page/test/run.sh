#!/usr/bin/env bash
# Builds the web page around the WebAssembly module (built by the wasm_build
# test, which CTest runs first), then runs the page's tests:
# its readings of listings in Node, and the page itself in Debian's chromium,
# both against the native programs. Exit 77 (skipped) with the reason when
# emscripten, chromium, node or the page's npm packages are missing.
#
#   run.sh SMFDIS SMFASM MAKE_MIDI SOURCE_DIR SCREENSHOT_DIR
#   run.sh        (npm test: the programs from the build directory, build/
#                  in the repository or $SMFASM_BUILD)
set -euo pipefail
if [ $# -eq 0 ]; then
  source=$(cd "$(dirname "$0")/../../.." && pwd)
  build=${SMFASM_BUILD:-$source/build}
  set -- "$build/smfdis" "$build/smfasm" "$build/bench/make_midi" "$source" "$build/web-screenshots"
  for program in "$1" "$2" "$3"; do
    if [ ! -x "$program" ]; then
      echo "$program is not built. From the repository's root, run first:"
      echo "  cmake -S . -B build && cmake --build build -j2 && bash web/build.sh"
      echo "(or set SMFASM_BUILD to a build directory that has smfdis, smfasm and bench/make_midi)"
      exit 1
    fi
  done
  if [ ! -f "$source/web/npm/smfasm-core.wasm" ]; then
    echo "The WebAssembly module is not built. From the repository's root, run first: bash web/build.sh"
    exit 1
  fi
fi
smfdis=$1 smfasm=$2 make_midi=$3 source=$4 screenshots=$5
page=$source/web/page

source "$source/tests/support/missing.sh"
skip() { missing SMFASM_REQUIRE_WEB "skipped: $1"; }
command -v emcc >/dev/null || skip "emscripten is not installed"
command -v node >/dev/null || skip "node is not installed"
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || skip "chromium is not installed"
[ -d "$page/node_modules/playwright-core" ] || skip "the page's npm packages are not installed (npm ci in web/page)"
[ -f "$source/web/npm/smfasm-core.wasm" ] || skip "the WebAssembly module is not built (web/build.sh)"

(cd "$page" && npm run --silent build)

real=$(mktemp -d)
trap 'rm -rf "$real"' EXIT
if ! bash "$source/tests/support/make_real_files.sh" "$real" >/dev/null; then
  echo "note: abcmidi or midicsv missing, so only the shipped sample is used"
fi

export SMFDIS=$smfdis SMFASM=$smfasm MAKE_MIDI=$make_midi SMFASM_SOURCE_DIR=$source CHROMIUM=$chromium
export SMFASM_REAL_FILES=$real SMFASM_SCREENSHOTS=$screenshots
cd "$page"
node --test --test-concurrency=1 --test-timeout=600000 test/*.test.mjs
echo "screenshots: $screenshots"
