#!/usr/bin/env bash
# Makes real MIDI files with other software (tests/support/make_real_files.sh),
# then cross-checks smfdis against midicsv on them. Exit 77 (skipped) when
# midicsv is missing, unless SMFASM_REQUIRE_CROSSCHECK is set, as CI does.
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)

source "$here/../support/missing.sh"
for tool in midicsv python3; do
  command -v "$tool" >/dev/null || missing SMFASM_REQUIRE_CROSSCHECK "$tool is not installed (Debian package midicsv)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/../support/make_real_files.sh" "$work"
exec python3 "$here/crosscheck.py" "$binary" "$work"/*.mid
