#!/usr/bin/env bash
# Makes real MIDI files with other software from the example sources that
# Debian's abcmidi and midicsv packages ship (ABC tunes, a CSV song and the
# CSV torture test), then cross-checks smfdis against midicsv on them.
# Exit 77 (skipped) when those tools are missing, unless
# SMFASM_REQUIRE_CROSSCHECK is set, as CI does.
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)

for tool in abc2midi midicsv csvmidi perl python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed (Debian packages abcmidi, midicsv)"
    [ -n "${SMFASM_REQUIRE_CROSSCHECK:-}" ] && exit 1
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
abc=/usr/share/doc/abcmidi/examples
csv=/usr/share/doc/midicsv/examples
for f in "$abc"/*.abc; do
  abc2midi "$f" -o "$work/$(basename "$f" .abc).mid" >/dev/null
done
csvmidi "$csv/ce3k.csv" "$work/ce3k.mid"
zcat "$csv/torture.pl.gz" | perl > "$work/torture.csv"
csvmidi "$work/torture.csv" "$work/torture.mid"

exec python3 "$here/crosscheck.py" "$binary" "$work"/*.mid
