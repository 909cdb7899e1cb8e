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

// { trackLines, noteLines, score }: line numbers (1-based) of the MTrk
// lines and of the lines that begin notes, and whether the listing is in
// the score form.
export function listingLines(text) {
  const trackLines = [];
  let noteLines = new Uint32Array(1024);
  let notes = 0;
  let score = false;
  let line = 1;
  for (let at = 0; at < text.length; line++) {
    let end = text.indexOf("\n", at);
    if (end < 0) end = text.length;
    const first = text.charCodeAt(at);
    if (first === 77 /* M */) {
      if (text.startsWith("MTrk", at) && (end - at === 4 || text.charCodeAt(at + 4) === 32)) trackLines.push(line);
      else if (text.startsWith("MFile ", at)) score = /\sscore\s*(#.*)?$/.test(text.slice(at, end));
    } else if (first !== 35 && first !== 9 && first !== NEWLINE && startsNote(text, at, end)) {
      if (notes === noteLines.length) {
        const bigger = new Uint32Array(notes * 2);
        bigger.set(noteLines);
        noteLines = bigger;
      }
      noteLines[notes++] = line;
    }
    at = end + 1;
  }
  return { trackLines, noteLines: noteLines.slice(0, notes), score };
}
