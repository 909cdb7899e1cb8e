#!/usr/bin/env bash
# Writes the seed corpus: small generated files, each behind an options byte
# (bit 0 measures, 1 note names, 2 long formats, 3 no joining, 4-6 width).
set -euo pipefail
make_midi=$1 demo=$2 out=$3
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_midi" every 0.002 "$work/every.mid"
"$make_midi" every 0.001 "$work/every_smpte.mid" 0xE728
"$make_midi" dense 0.002 "$work/dense.mid"
"$make_midi" sysex 0.0005 "$work/sysex.mid"
cp "$demo" "$work/demo.mid"
n=0
for f in "$work"/*.mid; do
  for options in 00 1f 2a 3c 57 65 7b; do
    { printf "\\x$options"; cat "$f"; } > "$out/$(basename "$f" .mid)-$options"
    n=$((n + 1))
  done
done
echo "$n seeds in $out"
