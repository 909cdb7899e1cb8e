// song() against the native score listing: every note, stray end and
// program change at the tick its line's bar:beat:tick names, read through
// song()'s own bars, so that a bar numbered or placed otherwise than the
// listing's shows as a note out of place. SMFCAT names the program (else
// it is found beside SMFDIS); SMFASM_FILES the files.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { test } from 'node:test';

import { song } from '../index.js';

const { SMFDIS, SMFASM_FILES } = process.env;
const SMFCAT = process.env.SMFCAT ?? (SMFDIS ? join(dirname(SMFDIS), 'smfcat') : undefined);
const skip = !SMFCAT || !existsSync(SMFCAT) || !SMFASM_FILES ? 'SMFCAT (or SMFDIS) and SMFASM_FILES are not set' : false;


// A key as the listing writes it, read through the core's own names, so
// that the comparison below holds those names to the native lister too.
function keyOf(text, names) {
  if (/^\d+$/.test(text)) return Number(text);
  const key = names.indexOf(text);
  assert.ok(key >= 0, `${text} is not one of song().noteNames`);
  return key;
}

function lengthOf(text, division) {
  const value = /^(\d+)\/(\d+)([.t]?)$/.exec(text);
  if (!value) return Number(text);
  const ticks = (Number(value[1]) * 4 * division) / Number(value[2]);
  return value[3] === '.' ? ticks * 1.5 : value[3] === 't' ? (ticks * 2) / 3 : ticks;
}

// The listing's notes, ends and programs as song() gives them, its times
// read through `bars`.
function fromListing(listing, bars, names) {
  const expected = { notes: [], offs: [], programs: [] };
  const barStart = new Map();
  for (let i = 0; i < bars.number.length; ++i) barStart.set(`${bars.track[i]}:${bars.number[i]}`, i);
  let division = 0;
  let format = 0;
  let track = -1;
  for (const line of listing.split('\n')) {
    const header = /^MFile (\d+) \d+ (\d+)/.exec(line);
    if (header) [format, division] = [Number(header[1]), Number(header[2])];
    if (line.startsWith('MTrk')) ++track;
    const event = /^(\d+)(?::(\d+):(\d+))? (Note|On|Off|PrCh) ch=(\d+) (\S+)(?: v=(\d+))?(?: len=(\S+))?/.exec(line);
    if (!event) continue;
    let tick = Number(event[1]);
    if (event[2] !== undefined) {
      const bar = barStart.get(`${format === 2 ? track : 0}:${event[1]}`);
      assert.ok(bar !== undefined, `bar ${event[1]} of track ${track} is missing: ${line}`);
      tick = bars.tick[bar] + (Number(event[2]) - 1) * bars.ticksPerBeat[bar] + Number(event[3]);
    }
    const [kind, channel, value, velocity, length] = [event[4], Number(event[5]) - 1, event[6], Number(event[7]), event[8]];
    if (kind === 'PrCh') expected.programs.push([track, channel, tick, Number(value.slice(2))]);
    else if (kind === 'Note' || (kind === 'On' && velocity !== 0)) {
      expected.notes.push([track, channel, keyOf(value.slice(2), names), velocity, tick,
        kind === 'Note' ? lengthOf(length, division) : -1]);
    } else expected.offs.push([track, channel, keyOf(value.slice(2), names), tick]);
  }
  return expected;
}

function rows(group, names) {
  return Array.from(group[names[0]], (_, i) => names.map((name) => group[name][i]));
}

test('song() has the score listing\'s notes, at its bars', { skip }, async () => {
  let compared = 0;
  for (const file of readdirSync(SMFASM_FILES).sort()) {
    const bytes = new Uint8Array(readFileSync(join(SMFASM_FILES, file)));
    const got = await song(bytes);
    const native = spawnSync(SMFCAT, ['--score', join(SMFASM_FILES, file)],
      { stdio: ['ignore', 'pipe', 'pipe'], encoding: 'latin1', maxBuffer: 1 << 30 });
    if (!got.ok) {
      // Refused only with a reason, and never a file the generator wrote.
      assert.equal(got.messages[0]?.severity, 'error', file);
      assert.ok(!/^(dense|every|sysex|demo)/.test(file), `${file}: ${got.messages[0].text}`);
      continue;
    }
    if (native.status !== 0) continue;
    const expected = fromListing(native.stdout, got.bars, got.noteNames);
    assert.deepEqual(rows(got.notes, ['track', 'channel', 'key', 'velocity', 'start', 'length']), expected.notes, file);
    assert.deepEqual(rows(got.unpairedOffs, ['track', 'channel', 'key', 'tick']), expected.offs, file);
    assert.deepEqual(rows(got.programs, ['track', 'channel', 'tick', 'program']), expected.programs, file);
    assert.ok(got.bars.tick.every((tick) => tick <= got.endTick), `${file}: bars past the end`);
    ++compared;
  }
  assert.ok(compared > 0);
  console.log(`${compared} files' notes the same as the score listing's`);
});

test('song() on files made here: shape, types, tempos and refusals', async () => {
  const demo = await song(new Uint8Array(readFileSync(new URL('../../../examples/demo.mid', import.meta.url))));
  assert.deepEqual({ ...demo, notes: undefined, unpairedOffs: undefined, programs: undefined, tempos: undefined,
    bars: undefined, noteNames: undefined }, { ok: true, messages: [], format: 0, division: 96, tracks: 1, endTick: 96,
    notes: undefined, unpairedOffs: undefined, programs: undefined, tempos: undefined, bars: undefined,
    noteNames: undefined });
  assert.deepEqual([demo.noteNames.length, demo.noteNames[0], demo.noteNames[61], demo.noteNames[127]],
    [128, 'c0', 'c#5', 'g10']);
  assert.deepEqual(demo.notes, { track: new Uint16Array([0]), channel: new Uint8Array([0]), key: new Uint8Array([60]),
    velocity: new Uint8Array([64]), start: new Float64Array([0]), length: new Float64Array([96]) });
  assert.deepEqual(demo.tempos, { tick: new Float64Array([0]), microsPerQuarter: new Uint32Array([500000]) });
  assert.deepEqual(demo.bars, { track: new Uint16Array([0]), number: new Uint32Array([1]), tick: new Float64Array([0]),
    numerator: new Uint8Array([4]), denominator: new Uint16Array([4]), ticksPerBeat: new Uint32Array([96]) });
  // The arrays are the caller's own, not views of the module's memory.
  assert.equal(demo.notes.start.byteOffset, 0);

  const empty = await song(new Uint8Array(0));
  assert.deepEqual([empty.ok, empty.messages, empty.notes.key.length],
    [false, [{ line: 0, column: 0, severity: 'error', text: 'not a MIDI file: it is empty' }], 0]);
  const cut = await song(new Uint8Array(readFileSync(new URL('../../../examples/demo.mid', import.meta.url))).subarray(0, 30));
  assert.equal(cut.ok, false);
  assert.match(cut.messages[0].text, /\(at byte \d+\)$/);
  assert.equal(cut.division, 96, 'the header as far as it was read');
  await assert.rejects(song('MThd'), TypeError);
});
