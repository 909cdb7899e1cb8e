#!/usr/bin/env bash
# Writes real MIDI files made by other software into DIR: the ABC tunes that
# Debian's abcmidi package ships, through abc2midi, and the CSV song and CSV
# torture test that the midicsv package ships, through csvmidi. Exit 77 when
# those tools are missing.
set -euo pipefail
dir=$1
for tool in abc2midi csvmidi perl; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed (Debian packages abcmidi, midicsv)"
    exit 77
  fi
done
abc=/usr/share/doc/abcmidi/examples
csv=/usr/share/doc/midicsv/examples
for f in "$abc"/*.abc; do
  abc2midi "$f" -o "$dir/$(basename "$f" .abc).mid" >/dev/null
done
csvmidi "$csv/ce3k.csv" "$dir/ce3k.mid"
zcat "$csv/torture.pl.gz" | perl > "$dir/torture.csv"
csvmidi "$dir/torture.csv" "$dir/torture.mid"
rm "$dir/torture.csv"
