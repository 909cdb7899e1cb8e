#!/usr/bin/env bash
# Dependencies point one way: the cores (and the in-memory face they share)
# include nothing of the programs or the other faces above them.
set -euo pipefail
cd "$1"
found=$(grep -rlE '#include "(app|web|python)/' state reader writer asm score api || true)
if [ -n "$found" ]; then
  echo "core files that include a program or face:"
  echo "$found"
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
