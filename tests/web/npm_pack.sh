#!/usr/bin/env bash
# Packs the npm package, installs the tarball offline into an empty project,
# type-checks a short example there with tsc --strict and runs it. Exit 77
# (skipped) when the package's development tools are not installed, or 1
# when SMFASM_REQUIRE_WEB is set.
# Usage: npm_pack.sh SOURCE_DIR
set -euo pipefail
package=$1/web/npm
tsc=$package/node_modules/.bin/tsc
source "$1/tests/support/missing.sh"
[ -x "$tsc" ] || missing SMFASM_REQUIRE_WEB "typescript is not installed (npm ci in web/npm)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Packed without a warning, with its README and licence.
(cd "$package" && npm pack --pack-destination "$work" >"$work/pack.out" 2>&1) || { cat "$work/pack.out"; exit 1; }
if grep -qi 'warn' "$work/pack.out"; then cat "$work/pack.out"; echo "npm pack warned"; exit 1; fi
contents=$(tar -tzf "$work"/smfasm-*.tgz)
for file in package/README.md package/LICENSE package/package.json package/smfasm-core.wasm; do
  grep -qx "$file" <<<"$contents" || { echo "the tarball lacks $file"; echo "$contents"; exit 1; }
done
# The page loads the module and its glue before it is ready: they stay
# within 100 KB gzipped.
size=$(( $(gzip -9c "$package/smfasm-core.wasm" | wc -c) + $(gzip -9c "$package/smfasm-core.js" | wc -c) ))
[ "$size" -le 100000 ] || { echo "the module and its glue are $size bytes gzipped, over 100000"; exit 1; }
# npm test in either folder, run before anything is built, says what to
# build first instead of failing in its tests.
mkdir "$work/unbuilt"
for folder in web/npm web/page; do
  if (cd "$1/$folder" && SMFASM_BUILD="$work/unbuilt" npm test >"$work/npm-test.out" 2>&1); then
    echo "npm test in $folder passed with nothing built"; exit 1
  fi
  grep -q "run first:" "$work/npm-test.out" && grep -q "cmake -S . -B build" "$work/npm-test.out" ||
    { echo "npm test in $folder does not say what to build first:"; cat "$work/npm-test.out"; exit 1; }
done
mkdir "$work/project"
cd "$work/project"
echo '{ "name": "example", "private": true, "type": "module" }' > package.json
npm install --offline --silent --no-audit --no-fund "$work"/smfasm-*.tgz
cat > example.ts <<'TS'
import { readFileSync } from "node:fs";
import { assemble, list, listBytes, song, type AssembleMessage, type ListResult, type Message, type SongData } from "smfasm";

const original = new Uint8Array(readFileSync(process.argv[2]));
const listed: ListResult = await list(original, { measures: true, noteNames: true, foldWidth: 40 });
const again = await assemble(listed.text);
const bad: AssembleMessage[] = (await assemble("MFile 0 1 96\nMTrk\n0 Bogus\n")).messages;
// After the check on ok, bytes is a Uint8Array: no null test is needed.
const same = again.ok && again.bytes.length === original.length && again.bytes.every((b, i) => b === original[i]);
const score = await list(original, { score: true });
const fromScore = await assemble(score.text);
const scoreSame = fromScore.ok && fromScore.bytes.every((b, i) => b === original[i]) && score.text.includes(" score\n");
// One message shape for both directions; listings as bytes both ways.
const said: Message[] = [...bad, ...listed.diagnostics];
const asBytes = await listBytes(original);
const fromBytes = await assemble(asBytes.bytes);
const bytesSame = fromBytes.ok && fromBytes.bytes.length === original.length && said[0].text === bad[0].message;
const tune: SongData = await song(original);
const notes: Float64Array = tune.notes.length;
const songOk = tune.ok && notes.length > 0 && tune.bars.number[0] === 1;
console.log(same && scoreSame && bytesSame && songOk && listed.ok && bad.length > 0 && bad[0].line === 3
  ? "round trip ok" : "round trip FAILED");
TS
# Node's own declarations come from the package's development tools.
"$tsc" --strict --target es2022 --module nodenext --moduleResolution nodenext \
  --typeRoots "$package/node_modules/@types" --types node example.ts
result=$(node example.js "$1/examples/demo.mid")
echo "$result"
[ "$result" = "round trip ok" ]
