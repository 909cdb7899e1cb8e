#!/usr/bin/env bash
# Writes the assembler's seed corpus from the lister's (fuzz/corpus): each
# lister seed behind the byte 01 (a MIDI file to round-trip), and the
# listings of its files under a few flag sets behind 00, or 02 for a listing
# of single packets (-m).
set -euo pipefail
smfdis=$1 corpus=$2 out=$3
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0
for seed in "$corpus"/*; do
  name=$(basename "$seed")
  { printf '\x01'; cat "$seed"; } > "$out/midi-$name"
  n=$((n + 1))
  case "$name" in
    *-00)
      tail -c +2 "$seed" > "$work/file.mid"
      for flags in "" "-bnv" "-m -f20"; do
        rm -f "$work/file.mtx"
        "$smfdis" $flags "$work/file.mid" "$work/file.mtx" </dev/null >/dev/null 2>&1 || continue
        mode='\x00'
        [ "$flags" = "-m -f20" ] && mode='\x02'
        { printf "$mode"; cat "$work/file.mtx"; } > "$out/text-${name%-00}${flags// /}"
        n=$((n + 1))
      done
      ;;
  esac
done
echo "$n seeds in $out"
