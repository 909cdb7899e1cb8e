// One timed run of the npm package, for bench/wasm.py: lists FILE.mid and
// assembles LISTING in one process, after loading the module, twice, and
// prints the times in seconds: the first round as a page or a script
// meets it (the engine still compiling the hot code to its top tier, the
// module's memory still growing), the second as it goes once warm. Each
// round lists and assembles twice: through bytes (listBytes(), and
// assemble() of the listing's bytes as read from the file) and through a
// JavaScript string (list(), and assemble() of the text). The listing
// times include the copy of the file into the module and of the listing
// out; the assembly times the copy of the listing in and of the bytes out.
// A last time is that of the listing's conversion alone, in a second
// instance of the module (whose code the engine has compiled by then), its
// text dropped: what gathering it costs is the difference.
import { readFileSync } from 'node:fs';
import { performance } from 'node:perf_hooks';

import { assemble, init, list, listBytes } from '../web/npm/index.js';
import createSmfasmCore from '../web/npm/smfasm-core.js';

const [midiPath, listingPath, flags = ''] = process.argv.slice(2);
const options = { measures: flags.includes('b'), noteNames: flags.includes('n'), long: flags.includes('v') };
const midi = new Uint8Array(readFileSync(midiPath));
const listingBytes = new Uint8Array(readFileSync(listingPath));
const listing = readFileSync(listingPath, 'latin1');
await init();

function timed(conversion) {
  const start = performance.now();
  return conversion().then((result) => {
    times.push((performance.now() - start) / 1000);
    if (!result.ok) throw new Error('the benchmark files did not convert');
  });
}

const times = [];
for (let round = 0; round < 2; ++round) {
  await timed(() => listBytes(midi, options));
  await timed(() => assemble(listingBytes));
  await timed(() => list(midi, options));
  await timed(() => assemble(listing));
}
const core = await createSmfasmCore({ wasmBinary: readFileSync(new URL('../web/npm/smfasm-core.wasm', import.meta.url)) });
const input = core._malloc(midi.length);
core.HEAPU8.set(midi, input);
core.onListingText = () => {};
const start = performance.now();
core._smfasm_list(input, midi.length, 0, 0);
times.push((performance.now() - start) / 1000);
console.log(times.join(' '));
