#!/usr/bin/env bash
# Converts generated files with the real program and with the plain
# reference writer, under every combination of flags, and requires identical
# listings, messages and exit statuses.
set -euo pipefail
real=$1 plain=$2 make_midi=$3 demo=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$demo" "$work/demo.mid"
"$make_midi" every 0.25 "$work/every.mid"
"$make_midi" every 0.1 "$work/every_480.mid" 480
"$make_midi" every 0.05 "$work/every_smpte.mid" 0xE728
"$make_midi" every 0.05 "$work/every_zero.mid" 0
"$make_midi" dense 0.5 "$work/dense.mid"
"$make_midi" sysex 0.1 "$work/sysex.mid"
# A file cut short: both must stop at the same byte with the same message.
head -c 30000 "$work/every.mid" > "$work/cut.mid"

# Every combination of the switches, then every folding width both with
# and without the others.
combinations=()
for measure in "" b; do
  for names in "" n; do
    for long in "" v; do
      for split in "" m; do combinations+=("$measure$names$long$split"); done
    done
  done
done
for fold in f f1 f14 f15 f20 f25 f26 f40 f-3; do combinations+=("$fold" "bnvm$fold"); done

runs=0 failed=0
for file in "$work"/*.mid; do
  for flags in "${combinations[@]}"; do
    args=()
    [ -n "$flags" ] && args=("-$flags")
    set +e
    "$real" "${args[@]}" "$file" "$work/real.mtx" </dev/null 2>"$work/real.err"; real_status=$?
    "$plain" "${args[@]}" "$file" "$work/plain.mtx" </dev/null 2>"$work/plain.err"; plain_status=$?
    set -e
    sed -i 's/real\.mtx/OUT/' "$work/real.err"; sed -i 's/plain\.mtx/OUT/' "$work/plain.err"
    runs=$((runs + 1))
    if [ $real_status != $plain_status ] || ! cmp -s "$work/real.mtx" "$work/plain.mtx" \
       || ! cmp -s "$work/real.err" "$work/plain.err"; then
      failed=$((failed + 1))
      echo "DIFFERS: $(basename "$file") -$flags (status $real_status vs $plain_status)"
      cmp "$work/real.mtx" "$work/plain.mtx" || true
    fi
    rm -f "$work/real.mtx" "$work/plain.mtx"
  done
done
echo "$((runs - failed)) passed, $failed failed"
[ $failed = 0 ]
