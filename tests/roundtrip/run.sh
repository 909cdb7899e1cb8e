#!/usr/bin/env bash
# Runs the round-trip check with the Python that Debian's python3-mido
# belongs to.
set -euo pipefail
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
exec "$python" "$(dirname "$0")/roundtrip.py" "$@"
