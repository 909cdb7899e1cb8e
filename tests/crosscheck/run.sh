#!/usr/bin/env bash
# Makes real MIDI files with other software (tests/support/make_real_files.sh),
# then cross-checks smfdis against midicsv on them. Exit 77 (skipped) when
# midicsv is missing, unless SMFASM_REQUIRE_CROSSCHECK is set, as CI does.
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)

for tool in midicsv python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed (Debian package midicsv)"
    [ -n "${SMFASM_REQUIRE_CROSSCHECK:-}" ] && exit 1
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/../support/make_real_files.sh" "$work"
exec python3 "$here/crosscheck.py" "$binary" "$work"/*.mid
