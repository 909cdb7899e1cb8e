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
(cd "$package" && npm pack --silent --pack-destination "$work" >/dev/null)
mkdir "$work/project"
cd "$work/project"
echo '{ "name": "example", "private": true, "type": "module" }' > package.json
npm install --offline --silent --no-audit --no-fund "$work"/smfasm-*.tgz
cat > example.ts <<'TS'
import { readFileSync } from "node:fs";
import { assemble, list, type AssembleMessage, type ListResult } from "smfasm";

const original = new Uint8Array(readFileSync(process.argv[2]));
const listed: ListResult = await list(original, { measures: true, noteNames: true, foldWidth: 40 });
const again = await assemble(listed.text);
const bad: AssembleMessage[] = (await assemble("MFile 0 1 96\nMTrk\n0 Bogus\n")).messages;
const same = again.bytes !== null && again.bytes.length === original.length && again.bytes.every((b, i) => b === original[i]);
console.log(same && listed.ok && bad.length > 0 && bad[0].line === 3 ? "round trip ok" : "round trip FAILED");
TS
# Node's own declarations come from the package's development tools.
"$tsc" --strict --target es2022 --module nodenext --moduleResolution nodenext \
  --typeRoots "$package/node_modules/@types" --types node example.ts
result=$(node example.js "$1/examples/demo.mid")
echo "$result"
[ "$result" = "round trip ok" ]
