// One timed run of the npm package, for bench/wasm.py: lists FILE.mid and
// assembles LISTING in one process, after loading the module, twice, and
// prints the four times in seconds: the first round as a page or a script
// meets it (the engine still compiling the hot code to its top tier, the
// module's memory still growing), the second as it goes once warm. The
// listing time includes the copy of the file into the module and of the
// text out into one JavaScript string; the assembly time the copy of the
// text in and of the bytes out. A fifth time is that of the listing's
// conversion alone, in a second instance of the module (whose code the
// engine has compiled by then), its text dropped instead of made into a
// string: what building the string costs is the difference.
import { readFileSync } from 'node:fs';
import { performance } from 'node:perf_hooks';

import { assemble, init, list } from '../web/npm/index.js';
import createSmfasmCore from '../web/npm/smfasm-core.js';

const [midiPath, listingPath, flags = ''] = process.argv.slice(2);
const options = { measures: flags.includes('b'), noteNames: flags.includes('n'), long: flags.includes('v') };
const midi = new Uint8Array(readFileSync(midiPath));
const listing = readFileSync(listingPath, 'latin1');
await init();

const times = [];
for (let round = 0; round < 2; ++round) {
  let start = performance.now();
  const listed = await list(midi, options);
  times.push((performance.now() - start) / 1000);
  start = performance.now();
  const assembled = await assemble(listing);
  times.push((performance.now() - start) / 1000);
  if (!listed.ok || !assembled.ok) throw new Error('the benchmark files did not convert');
}
const core = await createSmfasmCore({ wasmBinary: readFileSync(new URL('../web/npm/smfasm-core.wasm', import.meta.url)) });
const input = core._malloc(midi.length);
core.HEAPU8.set(midi, input);
core.onListingText = () => {};
const start = performance.now();
core._smfasm_list(input, midi.length, 0, 0);
times.push((performance.now() - start) / 1000);
console.log(times.join(' '));
