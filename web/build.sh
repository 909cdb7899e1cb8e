#!/usr/bin/env bash
# Builds the WebAssembly module with Debian's emscripten and copies the glue
# and the .wasm into the npm package (web/npm/smfasm-core.js and .wasm).
# Usage: web/build.sh [BUILD_DIR]   (default: build-wasm beside web/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-wasm}
# NodeSource's Node, which emscripten runs, does not search Debian's modules.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
emcmake cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target smfasm-core
cp "$build/web/smfasm-core.js" "$build/web/smfasm-core.wasm" "$root/web/npm/"
