// One timed run of the npm package, for bench/wasm.py: lists FILE.mid and
// assembles LISTING in one process, after loading the module, and prints
// the two times in seconds. The listing time includes the copy of the file
// into the module and of the text out into a JavaScript string; the
// assembly time the copy of the text in and of the bytes out.
import { readFileSync } from 'node:fs';
import { performance } from 'node:perf_hooks';

import { assemble, init, list } from '../web/npm/index.js';

const [midiPath, listingPath, flags = ''] = process.argv.slice(2);
const options = { measures: flags.includes('b'), noteNames: flags.includes('n'), long: flags.includes('v') };
const midi = new Uint8Array(readFileSync(midiPath));
const listing = readFileSync(listingPath, 'latin1');
await init();

let start = performance.now();
const listed = await list(midi, options);
const listSeconds = (performance.now() - start) / 1000;
start = performance.now();
const assembled = await assemble(listing);
const assembleSeconds = (performance.now() - start) / 1000;
if (!listed.ok || !assembled.ok) throw new Error('the benchmark files did not convert');
console.log(listSeconds, assembleSeconds);
