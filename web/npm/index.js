// smfasm in JavaScript: lists a Standard MIDI File as text and assembles
// such text back into the file, exactly as the smfdis and smfasm programs
// do, with the same C++ compiled to WebAssembly. One module for Node 18+,
// browsers and Web Workers.
import createSmfasmCore from './smfasm-core.js';

// Flag bits of the module's smfasm_list and smfasm_assemble.
const LIST_MEASURES = 1;
const LIST_NOTE_NAMES = 2;
const LIST_LONG_FORMATS = 4;
const LIST_PACKETS = 8;
const LIST_SCORE = 16;
const ASSEMBLE_PACKETS = 1;
const ASSEMBLE_NO_RUNNING_STATUS = 2;
const ASSEMBLE_STRICT = 4;

let loading = null;
let warming = null;
let core = null;
// Node's Buffer, when running in Node (see listingText).
let nodeBuffer = null;
const decoder = new TextDecoder();
const encoder = new TextEncoder();

// A file: URL is read with Node's fs (the glue's own loader would fetch() a
// path there); anything else is fetched, as in pages and workers. The
// module name is not a literal, so that bundlers for the web leave it alone.
async function readWasm(url) {
  if (url.protocol === 'file:') {
    const fsName = 'node:fs/promises';
    const { readFile } = await import(/* @vite-ignore */ fsName);
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`smfasm: cannot load ${url}: ${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

async function load(options) {
  let wasmBinary = options.wasmBinary;
  if (wasmBinary === undefined) {
    const url = options.wasmUrl !== undefined ? new URL(options.wasmUrl, import.meta.url)
      : new URL('./smfasm-core.wasm', import.meta.url);
    wasmBinary = await readWasm(url);
  }
  if (globalThis.process?.versions?.node !== undefined) {
    const bufferName = 'node:buffer';
    try {
      nodeBuffer = (await import(/* @vite-ignore */ bufferName)).Buffer;
    } catch {
      nodeBuffer = null;
    }
  }
  core = await createSmfasmCore({ wasmBinary });
  // Warmed up once the caller lets the event loop turn: init() (a page
  // waiting to be ready) does not wait for it, the first conversion does.
  warming = new Promise((resolve) => {
    setTimeout(() => {
      try {
        warmUp();
      } finally {
        resolve();
      }
    }, 0);
  });
}

// The module loaded and warmed up, for the conversions.
async function loaded() {
  await init();
  await warming;
}

// A small file of every common kind of line, to list and assemble a few
// times at load. The engine compiles the module's code quickly first and
// its hot functions to the optimizing tier only after they have run for a
// while; a function already running keeps its first code until it
// returns, and each conversion's main loop runs once for the whole file.
// Some thousands of lines of each kind, in two tracks, twice over (a few
// milliseconds), through both the text and the bytes paths, move the loops
// to the fast code before the first real file arrives: a large listing
// then converts a fifth faster.
function warmUpTrack(seed) {
  const events = [0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
    0x00, 0xFF, 0x03, 0x04, 0x57, 0x61, 0x72, 0x6D, 0x00, 0xF0, 0x03, 0x7E, 0x09, 0xF7];
  for (let i = seed; i < seed + 500; ++i) {
    const note = 36 + (i % 48);
    const channel = i & 15;
    events.push(0x00, 0x90 | channel, note, 100, 0x30, note, 0, 0x00, 0xB0 | channel, 7, i & 127,
      0x05, 0x90 | channel, note, 90, 0x81, 0x10, 0x80 | channel, note, 64);
    if (i % 8 === 0) events.push(0x10, 0xE0 | channel, 0x00, 0x40, 0x00, 0xA0 | channel, note, 30);
    if (i % 32 === 0) events.push(0x00, 0xC0 | channel, i & 127, 0x00, 0xD0 | channel, 50);
  }
  events.push(0x00, 0xFF, 0x2F, 0x00);
  const size = events.length;
  return [0x4D, 0x54, 0x72, 0x6B, size >>> 24, (size >>> 16) & 255, (size >>> 8) & 255, size & 255, ...events];
}

function warmUpFile() {
  return new Uint8Array([0x4D, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 1, 0, 2, 0, 96, ...warmUpTrack(0), ...warmUpTrack(7)]);
}

function warmUp() {
  const file = warmUpFile();
  for (let round = 0; round < 2; ++round) {
    const { listing } = runList(file, {}, 'list');
    assembleNow(round % 2 === 0 ? listing.bytes() : listing.text(), {});
  }
}

/**
 * Loads the WebAssembly module; list() and assemble() call it themselves
 * the first time. Options name where the module's bytes come from.
 */
export function init(options = {}) {
  if (loading === null) {
    loading = load(options).catch((error) => {
      loading = null;
      throw error;
    });
  }
  return loading;
}

// A view of `size` bytes at `pointer` in the module's memory, taken afresh
// each time: the memory's buffer is replaced whenever it grows.
function heapBytes(pointer, size) {
  return core.HEAPU8.subarray(pointer, pointer + size);
}

function outputBytes() {
  return heapBytes(core._smfasm_output(), core._smfasm_output_size());
}

function messagesText() {
  return decoder.decode(heapBytes(core._smfasm_messages(), core._smfasm_messages_size()));
}

// Copies `bytes` into memory allocated in the module; the caller frees it.
function copyIn(bytes) {
  const pointer = core._malloc(Math.max(bytes.length, 1));
  if (pointer === 0) throw new RangeError('smfasm: out of memory');
  core.HEAPU8.set(bytes, pointer);
  return pointer;
}

// A C string in module memory: the text as UTF-8 and a terminating zero.
function copyInName(text) {
  return copyIn(encoder.encode(`${text}\0`));
}

// Hands the listing to the assembler's reader as UTF-8, as much as each
// read has room for. A character too long for the room left is split, its
// other bytes kept for the next read.
function listingSource(text) {
  let position = 0;
  let pending = new Uint8Array(0);
  return (pointer, room) => {
    const into = heapBytes(pointer, room);
    let written = Math.min(pending.length, room);
    into.set(pending.subarray(0, written));
    pending = pending.subarray(written);
    if (written === room || position === text.length) return written;
    const left = room - written;
    const part = text.length - position <= left ? text.slice(position) : text.slice(position, position + left);
    const done = encoder.encodeInto(part, into.subarray(written));
    position += done.read;
    written += done.written;
    if (written === 0) {
      const codePoint = String.fromCodePoint(text.codePointAt(position));
      position += codePoint.length;
      pending = encoder.encode(codePoint);
      written = Math.min(pending.length, room);
      into.set(pending.subarray(0, written));
      pending = pending.subarray(written);
    }
    return written;
  };
}

/**
 * Lists a Standard MIDI File as smfdis would with the matching flags.
 * `ok` is false when the file is malformed: `text` then holds the listing
 * as far as it got and `messages` says why.
 */
export async function list(bytes, options = {}) {
  await loaded();
  return listNow(bytes, options);
}

// The listing's bytes as one string. The listing is ASCII (the writer
// escapes every other byte), so latin1 reads it exactly: Node makes a
// latin1 string with one plain copy, faster than decoding UTF-8, which stays
// the way for browsers and workers. A listing too long for a string throws.
function listingText(bytes, size) {
  if (nodeBuffer !== null) return nodeBuffer.from(bytes.buffer, bytes.byteOffset, size).toString('latin1');
  return decoder.decode(bytes.subarray(0, size));
}

// Gathers the listing's blocks end to end and makes one string of them at
// the end. A string for each block, joined, copied every byte twice into
// freshly mapped memory, and the page faults of those copies cost more than
// the copies: gathering copies once into a buffer reserved up front (a dense
// file lists to about eight times its size; memory never touched costs
// nothing) and the string is made in one pass. Past the reserve it doubles.
function listingCollector(fileSize) {
  let bytes = new Uint8Array(Math.min(fileSize * 8 + 65536, 2 ** 29));
  let size = 0;
  return {
    take(pointer, count) {
      if (count > bytes.length - size) {
        const larger = new Uint8Array(Math.max(bytes.length * 2, size + count));
        larger.set(bytes.subarray(0, size));
        bytes = larger;
      }
      bytes.set(heapBytes(pointer, count), size);
      size += count;
    },
    text: () => listingText(bytes, size),
    // A view, not a copy: a copy of the listing would cost as much as
    // gathering it did. Its buffer may run on past the listing.
    bytes: () => bytes.subarray(0, size),
  };
}

// Runs the lister over `bytes`, its listing gathered by `listing`, and
// gives the status and the lister's messages before the module's memory is
// released.
function runList(bytes, options, name) {
  if (!(bytes instanceof Uint8Array)) throw new TypeError(`smfasm.${name}: bytes must be a Uint8Array`);
  const flags = (options.measures ? LIST_MEASURES : 0) | (options.noteNames ? LIST_NOTE_NAMES : 0)
    | (options.long ? LIST_LONG_FORMATS : 0) | (options.packets ? LIST_PACKETS : 0) | (options.score ? LIST_SCORE : 0);
  const input = copyIn(bytes);
  const listing = listingCollector(bytes.length);
  core.onListingText = listing.take;
  try {
    const ok = core._smfasm_list(input, bytes.length, flags, options.foldWidth | 0) === 0;
    const messages = messagesText();
    return { listing, messages, diagnostics: listDiagnostics(messages, ok), ok };
  } finally {
    core.onListingText = null;
    core._free(input);
    core._smfasm_release();
  }
}

function listNow(bytes, options) {
  const { listing, messages, diagnostics, ok } = runList(bytes, options, 'list');
  return { text: listing.text(), messages, diagnostics, ok };
}

// The lister's messages as data: each line one message about the whole
// file (which has no lines), without the "Error: " the programs print. A
// line the lister prints under its "***Error ..." line (the system's
// reason) joins it. Every message stops the listing, but for the one about
// an empty file, which lists completely as nothing.
function listDiagnostics(messages, ok) {
  const diagnostics = [];
  let reasonFollows = false;
  for (const line of messages.split('\n')) {
    if (line === '') continue;
    if (reasonFollows) {
      diagnostics[diagnostics.length - 1].text += `: ${line}`;
      reasonFollows = false;
      continue;
    }
    reasonFollows = line.startsWith('***Error while');
    diagnostics.push({ line: 0, column: 0, severity: ok ? 'warning' : 'error', text: line.replace(/^(\*\*\*)?Error: /, '') });
  }
  return diagnostics;
}

/**
 * Lists a Standard MIDI File as list() does, the listing given as its bytes
 * (ASCII, so UTF-8 too) rather than a string: the fast way to a file, a
 * worker's message or a stream. Decode it only when text is needed.
 */
export async function listBytes(bytes, options = {}) {
  await loaded();
  const { listing, messages, diagnostics, ok } = runList(bytes, options, 'listBytes');
  return { bytes: listing.bytes(), messages, diagnostics, ok };
}

// The UTF-8 length of the UTF-16 code unit at `i` of `text` (a pair's first
// unit counts all four bytes, its second none).
function utf8Length(text, i) {
  const unit = text.charCodeAt(i);
  if (unit < 0x80) return 1;
  if (unit < 0x800) return 2;
  if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.length) {
    const next = text.charCodeAt(i + 1);
    if (next >= 0xDC00 && next <= 0xDFFF) return 4;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF && i > 0) {
    const before = text.charCodeAt(i - 1);
    if (before >= 0xD800 && before <= 0xDBFF) return 0;
  }
  return 3;
}

// The assembler counts columns in bytes; an editor counts them as
// JavaScript does, in UTF-16 code units. Finds each message's line in the
// listing, text or bytes (messages mostly come in line order, so the
// search goes on from the last one), and counts its column there: in a
// text by the UTF-8 length of each character, in bytes by decoding only
// the part of the line before the column.
function lineColumns(listing) {
  const isBytes = listing instanceof Uint8Array;
  const newline = isBytes ? 10 : '\n';
  let lineNumber = 1;
  let lineStart = 0;
  return (line, byteColumn) => {
    if (line <= 0 || byteColumn <= 0) return byteColumn;
    if (line < lineNumber) {
      lineNumber = 1;
      lineStart = 0;
    }
    while (lineNumber < line) {
      const end = listing.indexOf(newline, lineStart);
      if (end < 0) return byteColumn;
      lineStart = end + 1;
      ++lineNumber;
    }
    if (isBytes) {
      let lineEnd = listing.indexOf(10, lineStart);
      if (lineEnd < 0) lineEnd = listing.length;
      const before = Math.min(byteColumn - 1, lineEnd - lineStart);
      return decoder.decode(listing.subarray(lineStart, lineStart + before)).length + 1 + (byteColumn - 1 - before);
    }
    let bytes = 0;
    let i = lineStart;
    while (bytes < byteColumn - 1 && i < listing.length && listing[i] !== '\n') bytes += utf8Length(listing, i++);
    return i - lineStart + 1 + Math.max(0, byteColumn - 1 - bytes);
  };
}

/**
 * Assembles a listing into a Standard MIDI File as smfasm would: text, or
 * its bytes as a file holds them (read as they stand, with no string made;
 * the fast way for a listing from a file or from listBytes()). On any
 * error `ok` is false and `bytes` null; `messages` holds each error and
 * warning as data, `text` as smfasm prints them.
 */
export async function assemble(text, options = {}) {
  await loaded();
  return assembleNow(text, options);
}

/**
 * What a player or a piano roll needs of a MIDI file, as typed arrays: the
 * notes with their lengths in ticks (paired as the score form pairs them),
 * stray note ends, program changes, the tempo map and every bar start, its
 * number as the score listing's bar:beat:tick has it.
 */
export async function song(bytes) {
  await loaded();
  return songNow(bytes);
}

// The arrays of smfasm_song_table, in its order: [group, name, type].
const SONG_ARRAYS = [
  ['notes', 'track', Uint16Array], ['notes', 'channel', Uint8Array], ['notes', 'key', Uint8Array],
  ['notes', 'velocity', Uint8Array], ['notes', 'start', Float64Array], ['notes', 'length', Float64Array],
  ['unpairedOffs', 'track', Uint16Array], ['unpairedOffs', 'channel', Uint8Array], ['unpairedOffs', 'key', Uint8Array],
  ['unpairedOffs', 'tick', Float64Array],
  ['programs', 'track', Uint16Array], ['programs', 'channel', Uint8Array], ['programs', 'tick', Float64Array],
  ['programs', 'program', Uint8Array],
  ['tempos', 'tick', Float64Array], ['tempos', 'microsPerQuarter', Uint32Array],
  ['bars', 'track', Uint16Array], ['bars', 'number', Uint32Array], ['bars', 'tick', Float64Array],
  ['bars', 'numerator', Uint8Array], ['bars', 'denominator', Uint16Array], ['bars', 'ticksPerBeat', Uint32Array],
];
// Header fields before the arrays' addresses and lengths.
const SONG_HEADER = 3;

// The names of keys 0 to 127 as the listings spell them, read from the
// core's table once.
let noteNames = null;
function noteNamesNow() {
  if (noteNames === null) {
    const start = core._smfasm_note_names();
    const text = decoder.decode(heapBytes(start, core.HEAPU8.indexOf(0, start) - start));
    noteNames = Object.freeze(text.split('\n').slice(0, 128));
  }
  return noteNames;
}

function songNow(bytes) {
  if (!(bytes instanceof Uint8Array)) throw new TypeError('smfasm.song: bytes must be a Uint8Array');
  const input = copyIn(bytes);
  try {
    const failed = core._smfasm_song(input, bytes.length) !== 0;
    const said = messagesText();
    const result = { ok: !failed, messages: [], format: 0, division: 0, tracks: 0, endTick: 0, noteNames: noteNamesNow() };
    if (said !== '') result.messages.push({ line: 0, column: 0, severity: failed ? 'error' : 'warning', text: said });
    const table = new Uint32Array(core.HEAPU8.buffer, core._smfasm_song_table(), SONG_HEADER + 2 * SONG_ARRAYS.length);
    [result.format, result.division, result.tracks] = table;
    result.endTick = core._smfasm_song_end_tick();
    SONG_ARRAYS.forEach(([group, name, Type], i) => {
      result[group] ??= {};
      const [pointer, length] = table.subarray(SONG_HEADER + 2 * i);
      result[group][name] = new Type(core.HEAPU8.buffer, pointer, length).slice();
    });
    return result;
  } finally {
    core._free(input);
    core._smfasm_release();
  }
}

// What smfasm says last when a listing does not assemble, so that the text
// reads as the program's own messages do.
function closingLine(name, errors) {
  return errors === 0 ? '' : `${name}: ${errors} error${errors === 1 ? '' : 's'}; no MIDI file written\n`;
}

// Hands a listing given as bytes to the assembler's reader as it stands:
// one copy per block, and bytes that are not UTF-8 reach it as they would
// from a file.
function bytesSource(bytes) {
  let position = 0;
  return (pointer, room) => {
    const count = Math.min(room, bytes.length - position);
    core.HEAPU8.set(bytes.subarray(position, position + count), pointer);
    position += count;
    return count;
  };
}

function assembleNow(text, options) {
  const isBytes = text instanceof Uint8Array;
  if (typeof text !== 'string' && !isBytes) throw new TypeError('smfasm.assemble: text must be a string or a Uint8Array');
  const flags = (options.packets ? ASSEMBLE_PACKETS : 0)
    | (options.runningStatus === false ? ASSEMBLE_NO_RUNNING_STATUS : 0) | (options.strict ? ASSEMBLE_STRICT : 0);
  const name = copyInName(options.name ?? 'listing');
  core.readListing = isBytes ? bytesSource(text) : listingSource(text);
  try {
    const errors = core._smfasm_assemble(flags, name);
    const messages = [];
    const column = lineColumns(text);
    const count = core._smfasm_message_count();
    for (let i = 0; i < count; ++i) {
      const said = decoder.decode(heapBytes(core._smfasm_message_text(i), core._smfasm_message_text_size(i)));
      messages.push({
        line: core._smfasm_message_line(i),
        column: column(core._smfasm_message_line(i), core._smfasm_message_column(i)),
        severity: core._smfasm_message_warning(i) ? 'warning' : 'error',
        text: said,
        message: said,
      });
    }
    return {
      ok: errors === 0,
      bytes: errors === 0 ? outputBytes().slice() : null,
      messages,
      text: messagesText() + closingLine(options.name ?? 'listing', errors),
    };
  } finally {
    core.readListing = null;
    core._free(name);
    core._smfasm_release();
  }
}
