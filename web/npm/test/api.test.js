// The package's own face: errors and warnings as data at the right line and
// column, the formatted text the program prints, the options, and loading.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { assemble, init, list, listBytes } from '../index.js';

const demo = new Uint8Array(readFileSync(new URL('../../../examples/demo.mid', import.meta.url)));
const head = 'MFile 0 1 96\nMTrk\n';

// [name, listing, options, expected messages as [severity, line, column, start of the text]]
const BAD_LISTINGS = [
  ['value out of range', `${head}0 On ch=1 n=600 v=64\n0 Meta TrkEnd\nTrkEnd\n`, {},
    [['error', 3, 13, 'the note 600 is out of range']]],
  ['time going backwards', `${head}10 On ch=1 n=60 v=64\n5 On ch=1 n=60 v=0\n10 Meta TrkEnd\nTrkEnd\n`, {},
    [['error', 4, 1, 'time goes backwards']]],
  ['the physical line inside a fold, after CR LF', 'MFile 0 1 96\r\nMTrk\r\n0 Meta Text "ab\\\r\n\tcd" x\r\n0 Meta TrkEnd\r\nTrkEnd\r\n',
    {}, [['error', 4, 6, 'unexpected text at the end of the line']]],
  ['a column after non-ASCII text counts as JavaScript does', `${head}0 Meta Text "é😀" bogus\n0 Meta TrkEnd\nTrkEnd\n`, {},
    [['error', 3, 19, 'unexpected text at the end of the line']]],
  ['a missing TrkEnd, past the last line', `${head}0 On ch=1 n=60 v=64\n`, {},
    [['error', 4, 1, 'the listing ends inside the track']]],
  ['two errors in line order', `${head}0 On ch=1 n=60 v=999\n0 Bogus\n0 Meta TrkEnd\nTrkEnd\n`, {},
    [['error', 3, 18, ''], ['error', 4, 3, '']]],
  ['a warning alone assembles', `MFile 0 2 96\nMTrk\n0 Meta TrkEnd\nTrkEnd\n`, {},
    [['warning', 1, 9, 'MFile announces 2 tracks']]],
  ['strict makes it an error', `MFile 0 2 96\nMTrk\n0 Meta TrkEnd\nTrkEnd\n`, { strict: true },
    [['error', 1, 9, 'MFile announces 2 tracks']]],
];

test('bad listings: messages as data, and as smfasm prints them', async () => {
  const work = mkdtempSync(join(tmpdir(), 'smfasm-node-'));
  try {
    for (const [name, listing, options, expected] of BAD_LISTINGS) {
      const result = await assemble(listing, { ...options, name: 'song.mtx' });
      // The listing's bytes give the same messages, at the same columns.
      assert.deepEqual(await assemble(new TextEncoder().encode(listing), { ...options, name: 'song.mtx' }), result, name);
      const errors = expected.filter(([severity]) => severity === 'error').length;
      assert.equal(result.ok, errors === 0, name);
      assert.equal(result.bytes === null, errors !== 0, name);
      assert.equal(result.messages.length, expected.length, `${name}: ${JSON.stringify(result.messages)}`);
      expected.forEach(([severity, line, column, start], i) => {
        const got = result.messages[i];
        assert.deepEqual([got.severity, got.line, got.column], [severity, line, column], name);
        assert.ok(got.text.startsWith(start), `${name}: ${got.text}`);
        assert.equal(got.message, got.text, 'message is kept as the same text');
        assert.ok(result.text.includes(got.message), `${name}: the text holds each message`);
      });
      if (process.env.SMFASM) {
        const file = join(work, 'song.mtx');
        writeFileSync(file, listing);
        const native = spawnSync(process.env.SMFASM, [...(options.strict ? ['--strict'] : []), 'song.mtx', 'out.mid'],
          { cwd: work, stdio: ['ignore', 'pipe', 'pipe'], encoding: 'utf8' });
        if (native.status !== 2) assert.equal(result.text, native.stderr, name);
        rmSync(join(work, 'out.mid'), { force: true });
      }
    }
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});

test('options reach the conversions', async () => {
  const plain = await list(demo);
  assert.ok(plain.ok);
  assert.match(plain.text, /^0 On ch=1 n=60 v=64$/m);
  assert.match((await list(demo, { measures: true, noteNames: true, long: true })).text,
    /^0:1:0 On ch=1 note=c5 vol=0$/m);
  assert.equal((await list(demo, { foldWidth: 0 })).text, plain.text);
  assert.match((await list(demo, { foldWidth: 15 })).text, /^\tmo"$/m);

  const assembled = await assemble(plain.text);
  assert.deepEqual(assembled.bytes, demo);
  assert.equal(assembled.text, '');
  const noRunning = await assemble(plain.text, { runningStatus: false });
  assert.equal(noRunning.bytes.length, demo.length + 1, 'the second note takes its status byte');
  assert.match((await assemble('MFile 0 1 96\nMTrk\n0 Bogus\nTrkEnd\n')).text, /^listing:3:3: /);
});

test('text that is not ASCII reaches the file as UTF-8 across the reader\'s blocks', async () => {
  // Lines longer than the reader's block, at every offset against it, so
  // that some read has less room left than a character takes.
  for (let pad = 0; pad < 4; ++pad) {
    const payload = 'a'.repeat(pad) + 'é😀'.repeat(50000);
    const result = await assemble(`${head}0 Meta Text "${payload}"\nTrkEnd\n`);
    assert.ok(result.ok, result.text);
    assert.ok(Buffer.from(result.bytes).includes(Buffer.from(payload)), `padding ${pad}`);
  }
});

// A format-0 file of one track holding `events` (delta times included) and
// the end of the track.
function oneTrack(events) {
  const body = [...events, 0x00, 0xFF, 0x2F, 0x00];
  const size = body.length;
  return new Uint8Array([0x4D, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
    0x4D, 0x54, 0x72, 0x6B, size >>> 24, (size >>> 16) & 255, (size >>> 8) & 255, size & 255, ...body]);
}

// A variable-length quantity, as a MIDI file writes lengths.
function vlq(value) {
  const bytes = [value & 0x7F];
  for (let rest = value >>> 7; rest > 0; rest >>>= 7) bytes.unshift((rest & 0x7F) | 0x80);
  return bytes;
}

const EVERY_BYTE = Array.from({ length: 256 }, (_, i) => i);
// [name, file, options]: listings made of every byte value, and ones longer
// than the room the package sets aside for them at first.
const LISTED_EXACTLY = [
  ['every byte in text, system-exclusive and unknown meta events', oneTrack([
    0x00, 0xFF, 0x01, ...vlq(256), ...EVERY_BYTE,
    0x00, 0xF0, ...vlq(257), ...EVERY_BYTE.map((b) => b & 0x7F), 0xF7,
    0x00, 0xFF, 0x7F, ...vlq(256), ...EVERY_BYTE,
    0x00, 0xFF, 0x60, ...vlq(256), ...EVERY_BYTE]), {}],
  ['every byte folded at each column', oneTrack([0x00, 0xFF, 0x05, ...vlq(256), ...EVERY_BYTE]), { foldWidth: 1 }],
  ['notes under running status in the longest line formats', oneTrack([0x00, 0x90, 60, 64,
    ...Array.from({ length: 40000 }, (_, i) => [i % 3, 36 + (i % 60), i % 128]).flat()]),
  { measures: true, noteNames: true, long: true }],
];

test('listings are ASCII and whole, however long, as text and as bytes', async () => {
  for (const [name, file, options] of LISTED_EXACTLY) {
    const listed = await list(file, options);
    const asBytes = await listBytes(file, options);
    assert.equal(Buffer.from(asBytes.bytes).toString('latin1'), listed.text, `${name}: the same listing as bytes`);
    assert.deepEqual((await assemble(asBytes.bytes)).bytes, file, `${name}: assembled from bytes`);
    assert.ok(listed.ok, `${name}: ${listed.messages}`);
    assert.match(listed.text, /^[\x00-\x7F]*$/, `${name}: only ASCII`);
    assert.ok(listed.text.endsWith('TrkEnd\n'), name);
    const assembled = await assemble(listed.text);
    assert.deepEqual(assembled.bytes, file, `${name}: ${assembled.text}`);
  }
  const [, notes, options] = LISTED_EXACTLY[2];
  assert.ok((await list(notes, options)).text.length > notes.length * 8 + 65536,
    'the longest listing outgrows the room set aside for it');
});

test('malformed and empty files list as far as they go', async () => {
  const cut = await list(demo.subarray(0, demo.length - 3));
  assert.equal(cut.ok, false);
  assert.equal(cut.messages, 'Error: premature EOF\n');
  assert.ok(cut.text.startsWith('MFile 0 1 96\nMTrk\n'));
  const empty = await list(new Uint8Array(0));
  assert.deepEqual([empty.text, empty.messages, empty.ok], ['', 'not a MIDI file: it is empty\n', true]);
  const wave = await list(new TextEncoder().encode('RIFF\x24\x08\0\0WAVEfmt '));
  assert.equal(wave.ok, false);
  assert.equal(wave.messages, 'not a MIDI file: it starts with "RIFF", as WAV audio and other RIFF files do\n');
  assert.deepEqual(cut.diagnostics, [{ line: 0, column: 0, severity: 'error', text: 'premature EOF' }]);
  assert.deepEqual((await listBytes(demo.subarray(0, demo.length - 3))).diagnostics, cut.diagnostics);
  assert.deepEqual((await list(new Uint8Array(0))).diagnostics,
    [{ line: 0, column: 0, severity: 'warning', text: 'not a MIDI file: it is empty' }]);
  assert.equal(wave.diagnostics[0].text, wave.messages.trimEnd());
  await assert.rejects(list('MThd'), TypeError);
  await assert.rejects(listBytes('MThd'), TypeError);
  await assert.rejects(assemble(demo.buffer), TypeError);
});

test('init takes the module bytes, and calls may overlap', async () => {
  await init({ wasmBinary: readFileSync(new URL('../smfasm-core.wasm', import.meta.url)) });
  const results = await Promise.all([list(demo), assemble((await list(demo)).text), list(demo, { long: true })]);
  assert.deepEqual(results[1].bytes, demo);
  assert.notEqual(results[0].text, results[2].text);
});

test('a listing given as bytes is read as they stand, as from a file', async () => {
  // Bytes that are no UTF-8 reach the file as smfasm puts them there, and
  // a column after them counts what the line decodes to.
  const withText = (after) => new Uint8Array([...new TextEncoder().encode(`${head}0 Meta Text "`), 0xFF, 0xC3,
    ...new TextEncoder().encode(`"${after}\n0 Meta TrkEnd\nTrkEnd\n`)]);
  const bad = await assemble(withText(' bogus'));
  assert.deepEqual(bad.messages.map((m) => [m.line, m.column]), [[3, 18]]);
  const good = await assemble(withText(''));
  assert.ok(good.ok, good.text);
  assert.ok(Buffer.from(good.bytes).includes(Buffer.from([0xFF, 0x01, 0x02, 0xFF, 0xC3])), 'the text bytes as they stood');
});
