#!/usr/bin/env bash
# Runs the npm package's Node tests against the native programs over the
# round trip's files: the real files other software wrote (as far as
# abcmidi and midicsv are there), the benchmark generator's files, the fuzz
# seeds and the shipped demo. Exit 77 (skipped) when node is missing, or 1 when
# SMFASM_REQUIRE_WEB is set.
# Usage: node_tests.sh SMFDIS SMFASM MAKE_MIDI SOURCE_DIR
set -euo pipefail
smfdis=$1 smfasm=$2 make_midi=$3 source=$4
source "$source/tests/support/missing.sh"
command -v node >/dev/null || missing SMFASM_REQUIRE_WEB "node is not installed"
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
"$source/tests/support/make_real_files.sh" "$files"
"$make_midi" dense 0.25 "$files/dense.mid"
"$make_midi" sysex 0.25 "$files/sysex.mid"
"$make_midi" every 0.25 "$files/every.mid"
"$make_midi" every 0.25 "$files/every_smpte.mid" 0xE728
"$make_midi" every 0.1 "$files/every_division0.mid" 0
for seed in "$source"/fuzz/corpus/*; do
  # A seed's first byte picks the fuzzer's options; the rest is the file.
  tail -c +2 "$seed" > "$files/seed-$(basename "$seed").mid"
done
cp "$source/examples/demo.mid" "$files/"
cd "$source/web/npm"
SMFDIS=$smfdis SMFASM=$smfasm SMFASM_FILES=$files node --test test/
