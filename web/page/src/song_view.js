// The page's view of the song behind the editor's text: which line a note
// comes from and which note a line begins, which track a line is in, and
// bar:beat:tick times turned into ticks and back through the bars the core
// counted (the score form's one metre map). Everything here is looked up,
// nothing recounted: the core's song and the worker's line scan are the
// truth, as of the text that last assembled.
import { countWhile } from "./sorted.js";

// A key as a listing writes it: a number, or a name in the core's spelling
// (song.noteNames: "c5", "c#5"; in either case, and a flat as the key below
// its letter), also past the keyboard; NaN when it is neither.
export function keyNumber(text, names) {
  if (/^\d+$/.test(text)) return Number(text);
  const found = /^([a-g])(#?|b?)(\d+)$/.exec(text.toLowerCase());
  if (!found || !names) return NaN;
  const base = names.indexOf(`${found[1]}${found[2] === "#" ? "#" : ""}0`);
  return base < 0 ? NaN : base - (found[2] === "b" ? 1 : 0) + 12 * Number(found[3]);
}

// Every note's end (a note that never ends sounds to the song's end);
// `reach`, in start order the latest end so far of the notes that end,
// which says where drawing a stretch of time must begin; and the notes
// that never end as the roll draws them: one run per track and key from
// the earliest such note on, since every later one lies under it (a
// generated file can have millions). The worker works this out once
// (song_data.js), so that the page need not.
export function noteExtent(song) {
  const { start, length, track, key } = song.notes;
  const count = start.length;
  const end = new Float64Array(count);
  let hangingCount = 0;
  const earliest = new Int32Array(Math.max(song.tracks, 1) * 128).fill(-1);
  const trackNotes = new Uint32Array(Math.max(song.tracks, 1));
  for (let i = 0; i < count; i++) {
    trackNotes[track[i]]++;
    const ticks = length[i];
    if (ticks >= 0) {
      end[i] = start[i] + ticks;
      continue;
    }
    end[i] = Math.max(song.endTick, start[i] + 1);
    hangingCount++;
    const run = track[i] * 128 + key[i];
    const first = earliest[run];
    if (first < 0 || start[i] < start[first]) earliest[run] = i;
  }
  const reach = new Float64Array(count);
  let latest = -Infinity;
  if (song.order) {
    for (let k = 0; k < count; k++) {
      const i = song.order[k];
      if (length[i] >= 0 && end[i] > latest) latest = end[i];
      reach[k] = latest;
    }
  }
  return { end, reach, hanging: Int32Array.from(earliest.filter((i) => i >= 0)), hangingCount, trackNotes };
}

export class SongView {
  // song: the package's SongData with order; lines: listingLines's result.
  constructor(song, lines) {
    this.song = song;
    this.lines = lines;
    this.score = lines?.score ?? false;
    this.count = song.notes.start.length;
    const { end, reach, hanging, hangingCount } = song.extent ?? noteExtent(song);
    this.end = end;
    this.reach = reach;
    this.hanging = hanging;
    this.hangingCount = hangingCount;
    // The notes map to lines only when the scan found as many as the core.
    this.mapped = lines !== null && lines.noteLines.length === this.count;
  }

  // The index, by start, of the first note that may sound at or after tick.
  firstReaching(tick) {
    const { reach } = this;
    return countWhile(reach.length, (k) => reach[k] < tick);
  }

  trackOfLine(line) {
    const tracks = this.lines?.trackLines ?? [];
    return countWhile(tracks.length, (i) => tracks[i] <= line) - 1;
  }

  noteLine(index) {
    return this.mapped ? this.lines.noteLines[index] : 0;
  }

  // The note a line begins, or -1.
  noteOfLine(line) {
    if (!this.mapped) return -1;
    const lines = this.lines.noteLines;
    const i = countWhile(lines.length, (k) => lines[k] < line);
    return i < lines.length && lines[i] === line ? i : -1;
  }

  // The bars of a track: in formats 0 and 1 every track has the first's.
  #bars(track) {
    const { bars, format } = this.song;
    const own = format === 2 ? track : 0;
    const first = countWhile(bars.track.length, (i) => bars.track[i] < own);
    const count = countWhile(bars.track.length - first, (i) => bars.track[first + i] <= own);
    return { first, count };
  }

  // The bars of a track as records, made once per track.
  barList(track) {
    this.barLists ??= new Map();
    const own = this.song.format === 2 ? track : 0;
    if (!this.barLists.has(own)) this.barLists.set(own, this.#makeBarList(own));
    return this.barLists.get(own);
  }

  #makeBarList(track) {
    const { first, count } = this.#bars(track);
    const list = [];
    for (let i = first; i < first + count; i++) list.push(this.#bar(i));
    return list;
  }

  // The core's bar i as a record.
  #bar(i) {
    const b = this.song.bars;
    return { number: b.number[i], tick: b.tick[i], numerator: b.numerator[i], ticksPerBeat: b.ticksPerBeat[i] };
  }

  // The bar (as barList gives one) that holds tick, continuing the last
  // bar's metre past the end of the map; null without bars.
  barAt(tick, track) {
    const { first, count } = this.#bars(track);
    if (count === 0) return null;
    const b = this.song.bars;
    const i = first + Math.max(0, countWhile(count, (k) => b.tick[first + k] <= tick) - 1);
    const bar = this.#bar(i);
    const length = bar.numerator * bar.ticksPerBeat;
    if (i === first + count - 1 && length > 0 && tick >= bar.tick + length) {
      const more = Math.floor((tick - bar.tick) / length);
      return { ...bar, number: bar.number + more, tick: bar.tick + more * length };
    }
    return bar;
  }

  // The bar numbered `number` of a track, continued past the map likewise.
  barNumbered(number, track) {
    const { first, count } = this.#bars(track);
    if (count === 0 || number < 1) return null;
    const b = this.song.bars;
    const i = first + Math.min(count - 1, countWhile(count, (k) => b.number[first + k] <= number) - 1);
    if (i < first) return null;
    const bar = this.#bar(i);
    return { ...bar, number, tick: bar.tick + (number - bar.number) * (bar.numerator * bar.ticksPerBeat) };
  }

  // The tick a time column stands for in a track, or null: plain ticks in
  // either form, bar:beat:tick in the score form.
  columnTick(column, track) {
    if (/^-?\d+$/.test(column)) return Number(column);
    const parts = /^(\d+):(\d+):(\d+)$/.exec(column);
    if (!parts || !this.score) return null;
    const bar = this.barNumbered(Number(parts[1]), track);
    if (!bar || bar.ticksPerBeat === 0) return null;
    return bar.tick + (Number(parts[2]) - 1) * bar.ticksPerBeat + Number(parts[3]);
  }

  // How the score form writes a tick in a track.
  position(tick, track) {
    const bar = this.score ? this.barAt(tick, track) : null;
    if (!bar || bar.ticksPerBeat === 0 || tick < bar.tick) return String(tick);
    const within = tick - bar.tick;
    return `${bar.number}:${Math.floor(within / bar.ticksPerBeat) + 1}:${within % bar.ticksPerBeat}`;
  }

  // { track, tick } of a line, or null for a line without a time. A line
  // of a tick listing in measures is placed by the worker's reading of it
  // (measureTicks), or through its note.
  lineTime(line, text) {
    const track = this.trackOfLine(line);
    if (track < 0) return null;
    const column = text.split(" ", 1)[0];
    const measured = this.lines?.lineTicks?.[line];
    if (column.includes(":") && measured >= 0) return { track, tick: measured };
    const tick = this.columnTick(column, track);
    if (tick !== null) return { track, tick };
    const note = this.noteOfLine(line);
    return note >= 0 ? { track, tick: this.song.notes.start[note] } : null;
  }
}
