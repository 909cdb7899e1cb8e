#!/usr/bin/env bash
# Builds the WebAssembly module into BUILD_DIR and copies it into the npm
# package; exit 77 (skipped) when emscripten is missing, or 1 when
# SMFASM_REQUIRE_WEB is set.
# Usage: build_wasm.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/../support/missing.sh"
command -v emcc >/dev/null || missing SMFASM_REQUIRE_WEB "emscripten is not installed (Debian package emscripten)"
exec "$1/web/build.sh" "$2"
