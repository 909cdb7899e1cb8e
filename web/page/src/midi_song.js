// What the piano roll draws and the synthesizer plays, read from the MIDI
// bytes: the notes with their tracks, channels and programs, the tempo map
// and the time signatures. It runs in the worker, and it only reads: bytes
// that the lister would reject end the reading of their track quietly,
// since the listing already shows what went wrong.

// A read position inside one chunk.
class ChunkReader {
  constructor(bytes, at, end) {
    this.bytes = bytes;
    this.at = at;
    this.end = end;
  }

  // A variable-length number, or -1 when it runs past the chunk.
  vlq() {
    let value = 0;
    for (let i = 0; i < 4 && this.at < this.end; i++) {
      const b = this.bytes[this.at++];
      value = value * 128 + (b & 0x7f);
      if (b < 0x80) return value;
    }
    return -1;
  }
}

function latin1(bytes) {
  return new TextDecoder("latin1").decode(bytes);
}

// Growable columns of numbers, one typed array per field.
const FIELDS = [["start", Float64Array], ["end", Float64Array], ["pitch", Uint8Array], ["velocity", Uint8Array],
  ["channel", Uint8Array], ["program", Uint8Array], ["track", Uint16Array]];

class NoteColumns {
  constructor() {
    this.count = 0;
    for (const [name, Type] of FIELDS) this[name] = new Type(1024);
  }

  push(start, end, pitch, velocity, channel, program, track) {
    if (this.count === this.start.length) {
      for (const [name, Type] of FIELDS) {
        const bigger = new Type(this.count * 2);
        bigger.set(this[name]);
        this[name] = bigger;
      }
    }
    const i = this.count++;
    this.start[i] = start;
    this.end[i] = end;
    this.pitch[i] = pitch;
    this.velocity[i] = velocity;
    this.channel[i] = channel;
    this.program[i] = program;
    this.track[i] = track;
  }

  // The notes in order of their start, as plain arrays ready to transfer.
  sorted() {
    const order = this.#startOrder();
    const out = { count: this.count };
    for (const [name, Type] of FIELDS) {
      const from = this[name];
      const to = (out[name] = new Type(this.count));
      for (let i = 0; i < this.count; i++) to[i] = from[order[i]];
    }
    return out;
  }

  // The lowest and highest pitch, or null without notes.
  pitchRange() {
    let low = 127;
    let high = 0;
    for (let i = 0; i < this.count; i++) {
      low = Math.min(low, this.pitch[i]);
      high = Math.max(high, this.pitch[i]);
    }
    return low <= high ? [low, high] : null;
  }

  // Indices by start tick, ties in insertion order. Start and index packed
  // into one exact double sort natively, far faster than a comparator.
  #startOrder() {
    const order = new Uint32Array(this.count);
    const scale = 2 ** Math.ceil(Math.log2(this.count + 1));
    let latest = 0;
    for (let i = 0; i < this.count; i++) latest = Math.max(latest, this.start[i]);
    if (latest * scale + scale >= 2 ** 53) {
      for (let i = 0; i < this.count; i++) order[i] = i;
      return order.sort((a, b) => this.start[a] - this.start[b] || a - b);
    }
    const keys = new Float64Array(this.count);
    for (let i = 0; i < this.count; i++) keys[i] = this.start[i] * scale + i;
    keys.sort();
    for (let i = 0; i < this.count; i++) order[i] = keys[i] % scale;
    return order;
  }
}

// One track chunk: its notes go into notes, its tempos and signatures into
// song; returns the track's last tick and its name.
function readTrack(bytes, at, end, track, notes, song) {
  // The sounding notes by channel * 128 + pitch: the oldest in typed
  // arrays, any later ones of the same key waiting in a list.
  const openStart = new Float64Array(2048);
  const openVelocity = new Uint8Array(2048);
  const waiting = [];
  const program = new Uint8Array(16);
  let tick = 0;
  let status = 0;
  const names = {};
  const open = (key, velocity) => {
    if (openVelocity[key] === 0) {
      openStart[key] = tick;
      openVelocity[key] = velocity;
    } else (waiting[key] ??= []).push(tick, velocity);
  };
  // A note off ends the oldest sounding note of its pitch and channel.
  const close = (key) => {
    if (openVelocity[key] === 0) return;
    notes.push(openStart[key], tick, key & 127, openVelocity[key], key >> 7, program[key >> 7], track);
    const later = waiting[key];
    if (!later?.length) {
      openVelocity[key] = 0;
      return;
    }
    openStart[key] = later.shift();
    openVelocity[key] = later.shift();
  };
  const input = new ChunkReader(bytes, at, end);
  while (input.at < end) {
    const delta = input.vlq();
    if (delta < 0 || input.at >= end) break;
    tick += delta;
    let byte = bytes[input.at];
    if (byte >= 0x80) {
      input.at++;
      if (byte < 0xf0) status = byte;
    } else if (status === 0) break;
    else byte = status;
    if (byte === 0xff || byte === 0xf0 || byte === 0xf7) {
      const type = byte === 0xff ? bytes[input.at++] : -1;
      const length = input.vlq();
      const at = input.at;
      if (length < 0 || at + length > end) break;
      if (type === 0x51 && length === 3) song.tempos.push({ tick, micros: (bytes[at] << 16) | (bytes[at + 1] << 8) | bytes[at + 2] });
      else if (type === 0x58 && length >= 2) song.signatures.push({ tick, numerator: bytes[at], denominator: 2 ** bytes[at + 1] });
      else if ((type === 3 || type === 4) && !(type in names)) names[type] = latin1(bytes.subarray(at, at + length));
      input.at += length;
      continue;
    }
    const kind = byte & 0xf0;
    const channel = byte & 0x0f;
    const size = kind === 0xc0 || kind === 0xd0 ? 1 : 2;
    if (input.at + size > end) break;
    const a = bytes[input.at];
    const b = bytes[input.at + 1];
    input.at += size;
    if (kind === 0x90 && b > 0) open(channel * 128 + a, b);
    else if (kind === 0x80 || kind === 0x90) close(channel * 128 + a);
    else if (kind === 0xc0) program[channel] = a;
  }
  // Notes still sounding at the end of the track end there.
  for (let key = 0; key < 2048; key++) while (openVelocity[key] !== 0) close(key);
  return { lastTick: tick, name: names[3] ?? names[4] ?? null };
}

// Reads a Standard MIDI File into notes, tempos and signatures, all in
// ticks. SMPTE divisions give ticksPerSecond instead of ticks per quarter.
export function readSong(bytes) {
  const song = { division: 96, ticksPerSecond: 0, tempos: [], signatures: [], tracks: [], endTick: 0 };
  const notes = new NoteColumns();
  if (bytes.length < 14 || latin1(bytes.subarray(0, 4)) !== "MThd") return { ...song, notes: notes.sorted() };
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const division = view.getUint16(12);
  if (division & 0x8000) {
    const fps = 256 - (division >> 8);
    song.ticksPerSecond = (fps === 29 ? 29.97 : fps) * (division & 0xff);
  } else song.division = division;
  let at = 8 + view.getUint32(4);
  while (at + 8 <= bytes.length) {
    const length = view.getUint32(at + 4);
    const body = at + 8;
    const end = Math.min(body + length, bytes.length);
    if (latin1(bytes.subarray(at, at + 4)) === "MTrk") {
      const before = notes.count;
      const track = readTrack(bytes, body, end, song.tracks.length, notes, song);
      song.tracks.push({ name: track.name, notes: notes.count - before });
      song.endTick = Math.max(song.endTick, track.lastTick);
    }
    at = body + length;
  }
  const byTick = (a, b) => a.tick - b.tick;
  song.tempos.sort(byTick);
  song.signatures.sort(byTick);
  return { ...song, notes: notes.sorted(), pitches: notes.pitchRange() };
}

// The typed arrays of a song, to hand to postMessage as transferables.
export function songTransfer(song) {
  return FIELDS.map(([name]) => song.notes[name].buffer);
}
