#!/usr/bin/env bash
# Writes real MIDI files made by other software into DIR, as far as that
# software is installed: the CSV song and CSV torture test that the midicsv
# package ships, through csvmidi, and the ABC tunes that the abcmidi package
# ships, through abc2midi. Says what it leaves out; with
# SMFASM_REQUIRE_CROSSCHECK set (as in CI) leaving anything out fails.
set -euo pipefail
dir=$1

left_out() {
  echo "$1 is not installed (Debian package $2): $3 left out"
  [ -z "${SMFASM_REQUIRE_CROSSCHECK:-}" ] || exit 1
}

if command -v csvmidi >/dev/null && command -v perl >/dev/null; then
  csv=/usr/share/doc/midicsv/examples
  csvmidi "$csv/ce3k.csv" "$dir/ce3k.mid"
  zcat "$csv/torture.pl.gz" | perl > "$dir/torture.csv"
  csvmidi "$dir/torture.csv" "$dir/torture.mid"
  rm "$dir/torture.csv"
else
  left_out csvmidi midicsv "the CSV song and torture test"
fi

if command -v abc2midi >/dev/null; then
  for f in /usr/share/doc/abcmidi/examples/*.abc; do
    abc2midi "$f" -o "$dir/$(basename "$f" .abc).mid" >/dev/null
  done
else
  left_out abc2midi abcmidi "the ABC tunes"
fi
