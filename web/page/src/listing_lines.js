// Which lines of a listing the song's notes come from. Notes begin in the
// listing in the order the core reports them (track by track, in file
// order), each on a Note line or, when it never ends or in the tick form,
// an On line with a velocity above 0. One pass in the worker finds those
// lines, and the MTrk lines that open the tracks, so that the page can go
// from a note in the roll to its line and back without reading times.

const NEWLINE = 10;

// The note-on a line starts, if any: "Note", or "On" with velocity > 0.
function startsNote(text, at, end) {
  const space = text.indexOf(" ", at);
  if (space < 0 || space >= end) return false;
  const first = text.charCodeAt(space + 1);
  if (first === 78 /* N */) return text.startsWith("Note ", space + 1);
  if (first !== 79 /* O */ || !text.startsWith("On ", space + 1)) return false;
  const line = text.slice(space, end);
  const velocity = / (?:v|vol)=([^ ]+)/.exec(line);
  return velocity !== null && Number(velocity[1]) !== 0;
}

const NAME = " Meta TrkName \"";

function isName(text, at, end) {
  const space = text.indexOf(" ", at);
  return space >= 0 && space < end && text.startsWith(NAME, space);
}

// A track's name as the legend shows it: the quoted text, escapes and all.
function trackName(quoted) {
  const close = quoted.lastIndexOf('"');
  return (close >= 0 ? quoted.slice(0, close) : quoted).slice(0, 40);
}

// { trackLines, trackNames, noteLines, score }: line numbers (1-based) of
// the MTrk lines, each track's name (its first TrkName) or null, the line
// numbers of the lines that begin notes, and whether the listing is in the
// score form.
export function listingLines(text) {
  const trackLines = [];
  const trackNames = [];
  let noteLines = new Uint32Array(1024);
  let notes = 0;
  let score = false;
  let measures = null;
  let line = 1;
  for (let at = 0; at < text.length; line++) {
    const end = lineEnd(text, at);
    const first = text.charCodeAt(at);
    if (first === 77 /* M */) {
      if (text.startsWith("MTrk", at) && (end - at === 4 || text.charCodeAt(at + 4) === 32)) {
        trackLines.push(line);
        trackNames.push(null);
      }
      else if (text.startsWith("MFile ", at)) score = /\sscore\s*(#.*)?$/.test(text.slice(at, end));
    } else if (trackNames.at(-1) === null && isName(text, at, end)) {
      trackNames[trackNames.length - 1] = trackName(text.slice(text.indexOf(" ", at) + NAME.length, end));
    } else if (first !== 35 && first !== 9 && first !== NEWLINE && startsNote(text, at, end)) {
      if (measures === null) measures = !score && text.slice(at, text.indexOf(" ", at)).includes(":");
      if (notes === noteLines.length) {
        const bigger = new Uint32Array(notes * 2);
        bigger.set(noteLines);
        noteLines = bigger;
      }
      noteLines[notes++] = line;
    }
    at = end + 1;
  }
  return { trackLines, trackNames, noteLines: noteLines.slice(0, notes), score, measures: measures === true };
}

// The tick of every line of a tick listing written in measures (-b),
// NaN for lines without one, read off the plain tick listing of the same
// bytes: line for line the two match, folded continuations aside. The
// measure column counts across tracks in listing order, which no bar map
// of the song follows, so the plain listing is the way to its ticks.
export function measureTicks(text, plain) {
  const ticks = [NaN];
  let from = 0;
  const nextPlain = () => {
    while (from < plain.length && plain.charCodeAt(from) === 9) from = lineEnd(plain, from) + 1;
    if (from >= plain.length) return NaN;
    const line = plain.slice(from, lineEnd(plain, from));
    from += line.length + 1;
    return /^-?\d+ /.test(line) ? Number(line.slice(0, line.indexOf(" "))) : NaN;
  };
  for (let at = 0; at < text.length;) {
    const end = lineEnd(text, at);
    ticks.push(text.charCodeAt(at) === 9 ? NaN : nextPlain());
    at = end + 1;
  }
  return Float64Array.from(ticks);
}

function lineEnd(text, at) {
  const end = text.indexOf("\n", at);
  return end < 0 ? text.length : end;
}

// listingLines of a text, with measureTicks when it is written in
// measures; relist(options) lists the same bytes again.
export async function linesOf(text, relist, packets) {
  const lines = listingLines(text);
  if (lines.measures) lines.lineTicks = measureTicks(text, (await relist({ packets })).text);
  return lines;
}
