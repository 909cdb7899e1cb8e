// Edits of a score-form listing by command: transpose, shift in time,
// delete bars, insert an empty bar, set the tempo. Each takes the text's
// lines, the song as the core read it from this very text (SongView) and
// the selected lines, and gives back one replacement of a run of lines, or
// a reason to refuse. They are safe by construction: a Note carries its
// length, so moving or transposing it moves its end with it; a key outside
// 0 to 127 or a time before the start is refused; each track's lines stay
// in time order; a track's end moves out to its last note's end; and the
// time signatures, which place every bar:beat:tick, stay where they are
// unless whole bars come and go.
const KEEP_IN_DELETED_BARS = /^(Tempo|TimeSig|KeySig|SMPTE|PrCh|ProgCh|Par|Param|Pb|ChPr|ChanPr|SysEx|Arb|SeqSpec|Meta)$/;
const TEXT_META = /^Meta (Text|Lyric|Marker|Cue)\b/;
const METRE_AT_BAR = /^(TimeSig|Tempo|KeySig)$/;

// A line as the commands see it: the block of an event line and its folded
// continuation lines, with any comment or blank lines before it.
function blocksOf(lines, view, track) {
  const blocks = [];
  let pending = [];
  for (let i = 0; i < lines.length; i++) {
    const text = lines[i].text;
    if (text.startsWith("\t") && blocks.length > 0 && pending.length === 0) {
      blocks.at(-1).lines.push(lines[i]);
      continue;
    }
    const space = text.indexOf(" ");
    const time = space > 0 ? text.slice(0, space) : "";
    const tick = time ? view.columnTick(time, track) : null;
    if (tick === null) {
      pending.push(lines[i]);
      continue;
    }
    const body = text.slice(space + 1);
    const keyword = body.split(" ", 1)[0];
    // A Note's key, channel and length as the core read them from this
    // very text, not read again here.
    const index = keyword === "Note" ? view.noteOfLine(lines[i].number) : -1;
    const n = view.song.notes;
    const note = index < 0 ? null : { key: n.key[index], channel: n.channel[index], length: Math.max(n.length[index], 0) };
    blocks.push({ lines: [...pending, lines[i]], first: pending.length, time, tick, body, keyword, note });
    pending = [];
  }
  return { blocks, trailing: pending };
}

const isEnd = (block) => /^Meta TrkEnd\b/.test(block.body) || /^Meta 0x2f\b/i.test(block.body);
const selected = (block, from, to) => block.lines.some((l) => l.number >= from && l.number <= to);

// The ticks a Note block sounds to.
function noteEnd(block) {
  return block.note ? block.tick + block.note.length : block.tick;
}

function withTime(block, time) {
  const line = block.lines[block.first];
  const text = `${time} ${block.body}`;
  const lines = block.lines.slice();
  lines[block.first] = { number: line.number, text };
  return { ...block, lines, time, body: block.body };
}

// The tracks of the text: for each, the MTrk line's number and the lines
// up to its TrkEnd line, read through doc (lineText, lineCount).
export function tracksOf(doc) {
  const tracks = [];
  let current = null;
  for (let n = 1; n <= doc.lineCount; n++) {
    const text = doc.lineText(n);
    if (text === "MTrk" || text.startsWith("MTrk ")) current = { start: n, lines: [] };
    else if (text === "TrkEnd" && current) {
      current.end = n;
      tracks.push(current);
      current = null;
    } else if (current) current.lines.push({ number: n, text });
  }
  return tracks;
}

// The replacement of a track's lines: only the run that changed.
function replacement(track, newLines) {
  const old = track.lines;
  let head = 0;
  while (head < old.length && head < newLines.length && old[head].text === newLines[head]) head++;
  let tail = 0;
  while (tail < old.length - head && tail < newLines.length - head
    && old[old.length - 1 - tail].text === newLines[newLines.length - 1 - tail]) tail++;
  return { from: track.start + 1 + head, to: track.start + old.length - tail, lines: newLines.slice(head, newLines.length - tail) };
}

// The track's end line moved out, if need be, to the last note's end and
// the last event; the end kept last.
function closeTrack(blocks, position) {
  const end = blocks.findIndex(isEnd);
  if (end < 0) return blocks;
  let last = 0;
  blocks.forEach((b, i) => {
    if (i !== end) last = Math.max(last, noteEnd(b));
  });
  let closing = blocks[end];
  if (closing.tick < last) closing = { ...withTime(closing, position(last)), tick: last };
  return [...blocks.slice(0, end), ...blocks.slice(end + 1), closing];
}

const flatten = (blocks, trailing) => [...blocks.flatMap((b) => b.lines.map((l) => l.text)), ...trailing.map((l) => l.text)];

// The tracks a command on lines from..to works in, and the selection's
// span: from the first start to the last end, and the last start.
export function selectionSpan(tracks, view, from, to) {
  let first = Infinity;
  let last = -Infinity;
  let lastStart = -Infinity;
  const touched = [];
  tracks.forEach((track, index) => {
    if (track.end < from || track.start > to) return;
    touched.push(index);
    for (const block of blocksOf(track.lines, view, index).blocks) {
      if (!selected(block, from, to)) continue;
      first = Math.min(first, block.tick);
      last = Math.max(last, noteEnd(block));
      lastStart = Math.max(lastStart, block.tick);
    }
  });
  return first === Infinity ? null : { first, last, lastStart, touched };
}

function refuse(reason) {
  return { error: reason };
}

// A changed note that would sound over another of its key and channel, or
// null. Such notes cannot be told apart in a MIDI file: each end would end
// the one begun first, and the lengths would come back swapped.
function clash(blocks, changed) {
  const sounding = new Map();
  const of = (block) => (block.note ? `${block.note.channel}/${block.note.key}` : null);
  for (const block of blocks) {
    if (block.keyword !== "Note") continue;
    const key = of(block);
    if (key === null) continue;
    const list = sounding.get(key) ?? [];
    list.push(block);
    sounding.set(key, list);
  }
  for (const block of blocks) {
    if (!changed.has(block)) continue;
    const end = noteEnd(block);
    for (const other of sounding.get(of(block)) ?? []) {
      if (other !== block && other.tick < end && block.tick < noteEnd(other)) return block;
    }
  }
  return null;
}

function clashReason(block, view, track) {
  return `line ${block.lines[block.first].number}'s note would sound over another of its key and channel `
    + `at ${view.position(block.tick, track)}`;
}

// Transposes the selected Note lines by semitones.
export function transpose(tracks, view, from, to, semitones) {
  const changes = [];
  for (const [index, track] of tracks.entries()) {
    if (track.end < from || track.start > to) continue;
    const { blocks, trailing } = blocksOf(track.lines, view, index);
    let changed = false;
    const moved = [];
    const changedBlocks = new Set();
    for (const block of blocks) {
      if (block.keyword !== "Note" || !selected(block, from, to)) {
        moved.push(block);
        continue;
      }
      const found = / (n|note)=([^ ]+)/.exec(block.body);
      if (!found || !block.note) return refuse(`line ${block.lines[block.first].number} has no key to transpose`);
      const names = view.song.noteNames;
      const key = block.note.key;
      const next = key + semitones;
      if (next < 0 || next > 127) {
        return refuse(`line ${block.lines[block.first].number}: ${names[key]} would go past the keyboard (${names[0]} to ${names[127]})`);
      }
      const written = /^\d+$/.test(found[2]) ? String(next) : names[next];
      const body = block.body.replace(found[0], ` ${found[1]}=${written}`);
      const lines = block.lines.slice();
      lines[block.first] = { number: lines[block.first].number, text: `${block.time} ${body}` };
      const done = { ...block, lines, body, note: { ...block.note, key: next } };
      moved.push(done);
      changedBlocks.add(done);
      changed = true;
    }
    const overlap = clash(moved, changedBlocks);
    if (overlap) return refuse(clashReason(overlap, view, index));
    if (changed) changes.push(replacement(track, flatten(moved, trailing)));
  }
  return changes.length ? { changes, select: { from, to } } : refuse("no Note line is selected");
}

// Moves the selected events by ticks (a signed number), the time
// signatures and track ends excepted, and puts each track back in order.
export function shift(tracks, view, from, to, ticks) {
  const changes = [];
  const select = { from: Infinity, to: -Infinity };
  for (const [index, track] of tracks.entries()) {
    if (track.end < from || track.start > to) continue;
    const { blocks, trailing } = blocksOf(track.lines, view, index);
    let changed = false;
    const next = [];
    for (const block of blocks) {
      if (!selected(block, from, to) || isEnd(block) || block.keyword === "TimeSig") {
        next.push(block);
        continue;
      }
      const tick = block.tick + ticks;
      if (tick < 0) return refuse(`line ${block.lines[block.first].number} would move before the start of the song`);
      next.push({ ...withTime(block, view.position(tick, index)), tick, moved: true });
      changed = true;
    }
    if (!changed) continue;
    // In time order; at one tick the events that stayed come first, so
    // that notes moved away and back come back behind the settings of
    // their tick.
    const order = next.map((b, i) => ({ b, i }));
    order.sort((p, q) => p.b.tick - q.b.tick || !!p.b.moved - !!q.b.moved || p.i - q.i);
    const sorted = closeTrack(order.map((p) => p.b), (t) => view.position(t, index));
    const overlap = clash(sorted, new Set(sorted.filter((b) => b.moved)));
    if (overlap) return refuse(clashReason(overlap, view, index));
    // The moved lines stay selected where they went (the line count is kept).
    let at = track.start + 1;
    for (const block of sorted) {
      if (block.moved) {
        select.from = Math.min(select.from, at + block.first);
        select.to = Math.max(select.to, at + block.lines.length - 1);
      }
      at += block.lines.length;
    }
    changes.push(replacement(track, flatten(sorted, trailing)));
  }
  return changes.length ? { changes, select } : refuse("nothing in the selection moves");
}

// Rewrites every time at or after tick `at` in the tracks given, through
// move(block) → null (delete), or a new { time, tick }.
function rewriteTimes(tracks, view, indices, move) {
  const changes = [];
  for (const index of indices) {
    const track = tracks[index];
    const { blocks, trailing } = blocksOf(track.lines, view, index);
    const next = [];
    for (const block of blocks) {
      const to = move(block, index);
      if (to === null) continue;
      next.push(to === block ? block : { ...withTime(block, to.time), tick: to.tick });
    }
    // What stays at a bar's start stays before what moves onto it.
    const ordered = next.map((b, i) => ({ b, i })).sort((p, q) => p.b.tick - q.b.tick || p.i - q.i).map((p) => p.b);
    const closed = closeTrack(ordered, (t) => move({ tick: t, time: String(t), reposition: true }, index).time);
    const lines = flatten(closed, trailing);
    if (lines.length !== track.lines.length || lines.some((l, i) => l !== track.lines[i].text)) {
      changes.push(replacement(track, lines));
    }
  }
  return changes;
}

// The tracks a bar edit works in: all of them when they share the first
// track's bars (formats 0 and 1), else the one the cursor is in.
function barTracks(tracks, view, line) {
  if (view.song.format !== 2) return tracks.map((_, i) => i);
  const index = tracks.findIndex((t) => t.start <= line && t.end >= line);
  return index < 0 ? [] : [index];
}

// A time column with its bar number moved by `bars`, or a tick column by `ticks`.
function movedTime(time, bars, ticks) {
  const parts = /^(\d+):(\d+:\d+)$/.exec(time);
  if (parts) return `${Number(parts[1]) + bars}:${parts[2]}`;
  return String(Number(time) + ticks);
}

// Deletes the bars the selection spans, in every track that shares them:
// the notes and texts in them go, the settings in them (tempo, metre,
// controllers, programs) move to where the bars were, everything after
// moves up.
export function deleteBars(tracks, view, from, to) {
  const span = selectionSpan(tracks, view, from, to);
  if (!span) return refuse("select lines with times to delete their bars");
  const own = view.song.format === 2 ? span.touched[0] : 0;
  const firstBar = view.barAt(span.first, own);
  const lastBar = view.barAt(Math.max(span.first, span.lastStart), own);
  if (!firstBar || firstBar.ticksPerBeat === 0) return refuse("this file has no bars (its times are in SMPTE frames)");
  const after = view.barNumbered(lastBar.number + 1, own);
  const count = lastBar.number - firstBar.number + 1;
  const start = firstBar.tick;
  const gone = after.tick - start;
  const firstTime = `${firstBar.number}:1:0`;
  const indices = barTracks(tracks, view, from);
  const changes = rewriteTimes(tracks, view, indices, (block) => {
    if (block.reposition) {
      const old = block.tick >= start ? block.tick + gone : block.tick;
      return { tick: block.tick, time: block.tick >= start ? movedTime(view.position(old, own), -count, -gone) : view.position(old, own) };
    }
    if (block.tick < start) return block;
    if (block.tick >= after.tick) return { tick: block.tick - gone, time: movedTime(block.time, -count, -gone) };
    if (isEnd(block) || (KEEP_IN_DELETED_BARS.test(block.keyword) && !TEXT_META.test(block.body))) {
      return { tick: start, time: /:/.test(block.time) ? firstTime : String(start) };
    }
    return null;
  });
  return changes.length ? { changes, bars: [firstBar.number, lastBar.number] } : refuse("the bars are empty already");
}

// Inserts an empty bar before the bar the cursor's line is in, of that
// bar's metre: everything from there on moves a bar later, save the time
// signature, tempo and key that start the bar, which stay to start the
// new one.
export function insertBar(tracks, view, line) {
  const span = selectionSpan(tracks, view, line, line);
  const own = view.song.format === 2 ? (span?.touched[0] ?? 0) : 0;
  const bar = view.barAt(span ? span.first : 0, own);
  if (!bar || bar.ticksPerBeat === 0) return refuse("this file has no bars (its times are in SMPTE frames)");
  const next = view.barNumbered(bar.number + 1, own);
  const length = next.tick - bar.tick;
  const indices = barTracks(tracks, view, line);
  const changes = rewriteTimes(tracks, view, indices, (block) => {
    if (block.reposition) {
      const old = block.tick >= bar.tick + length ? block.tick - length : block.tick;
      return { tick: block.tick, time: block.tick >= bar.tick + length ? movedTime(view.position(old, own), 1, length) : view.position(old, own) };
    }
    if (block.tick < bar.tick || (block.tick === bar.tick && METRE_AT_BAR.test(block.keyword))) return block;
    return { tick: block.tick + length, time: movedTime(block.time, 1, length) };
  });
  return changes.length ? { changes, bar: bar.number } : refuse("nothing follows to move");
}

// Sets the tempo at the selection's start in the track that holds the
// tempo map (the first; in format 2 the cursor's own). Over a span the
// tempos inside it give way, and the tempo that was in force at its end
// comes back there.
export function setTempo(tracks, view, from, to, bpm) {
  if (!(bpm >= 1 && bpm <= 60000000 / 1000)) return refuse("a tempo runs from 1 to 60000 bpm");
  if (view.song.division === 0) return refuse("this file is timed in SMPTE frames, which no tempo changes");
  const span = selectionSpan(tracks, view, from, to);
  if (!span) return refuse("select a line with a time to set the tempo there");
  const index = view.song.format === 2 ? span.touched[0] : 0;
  const track = tracks[index];
  if (!track) return refuse("there is no track to hold the tempo");
  const written = `Tempo ${Number(bpm.toFixed(2))}bpm`;
  const { blocks, trailing } = blocksOf(track.lines, view, index);
  const isTempo = (b) => b.keyword === "Tempo";
  const ranged = span.last > span.first && from !== to;
  let before = null;
  for (const b of blocks) if (isTempo(b) && b.tick <= span.last) before = b;
  const next = blocks.filter((b) => !(isTempo(b) && (b.tick === span.first || (ranged && b.tick > span.first && b.tick < span.last))));
  const make = (tick, body) => ({
    lines: [{ number: 0, text: `${view.position(tick, index)} ${body}` }], first: 0, tick, body, keyword: "Tempo",
    time: view.position(tick, index),
  });
  const place = (block) => {
    let at = next.findIndex((b) => b.tick > block.tick || (b.tick === block.tick && !METRE_AT_BAR.test(b.keyword)) || isEnd(b));
    if (at < 0) at = next.length;
    next.splice(at, 0, block);
  };
  place(make(span.first, written));
  if (ranged && !next.some((b) => isTempo(b) && b.tick === span.last)) {
    place(make(span.last, before ? before.body : "Tempo 120bpm"));
  }
  const closed = closeTrack(next, (t) => view.position(t, index));
  return { changes: [replacement(track, flatten(closed, trailing))] };
}
