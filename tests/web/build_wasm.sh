#!/usr/bin/env bash
# Builds the WebAssembly module into BUILD_DIR and the npm package beside
# it; exit 77 (skipped) when emscripten is missing.
# Usage: build_wasm.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
if ! command -v emcc >/dev/null; then
  echo "emscripten is not installed (Debian package emscripten)"
  exit 77
fi
exec "$1/web/build.sh" "$2"
