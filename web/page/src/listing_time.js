// Where a line of a listing sits in time: its track and its tick. The
// measure column (measure:beat:tick) counts from the last time signature
// above the line in the listing, whichever track that signature was in, so
// turning it back into ticks needs the metre that the lister had at that
// point. indexListing records it once per listing (in the worker, over the
// whole text); lineTime then places any line in constant time.
import { countWhile } from "./sorted.js";

// The lister's metre: measures completed before the last signature, that
// signature's tick, beats per measure and ticks per beat.
export function headerMetre(division) {
  return { offset: 0, last: 0, beatsPerMeasure: 4, ticksPerBeat: division };
}

// The tick that a time column stands for under a metre; null when the
// column is not a time.
export function columnTick(column, metre) {
  const parts = column.split(":");
  if (parts.length === 1) return /^-?\d+$/.test(column) ? Number(column) : null;
  if (parts.length !== 3 || !parts.every((p) => /^-?\d+$/.test(p))) return null;
  const [measure, beat, tick] = parts.map(Number);
  const beats = (measure - metre.offset) * metre.beatsPerMeasure + beat;
  return metre.last + beats * metre.ticksPerBeat + tick;
}

// The metre after a time signature numerator/denominator at tick.
export function nextMetre(metre, division, tick, numerator, denominator) {
  const perMeasure = metre.ticksPerBeat * metre.beatsPerMeasure;
  const offset = perMeasure !== 0 ? metre.offset + Math.trunc((tick - metre.last) / perMeasure) : metre.offset;
  const ticksPerBeat = denominator > 0 ? Math.trunc((division * 4) / denominator) : 0;
  return { offset, last: tick, beatsPerMeasure: numerator, ticksPerBeat };
}

// One pass over the text: the line numbers of the MTrk lines, and of the
// TimeSig lines with the metre each one starts.
export function indexListing(text) {
  const trackLines = [];
  const signatures = [];
  let division = 0;
  let metre = headerMetre(0);
  let line = 1;
  for (let at = 0; at < text.length; line++) {
    const found = text.indexOf("\n", at);
    const end = found < 0 ? text.length : found;
    const first = text.charCodeAt(at);
    if (first === 77 /* M */) {
      if (end - at === 4 && text.startsWith("MTrk", at)) trackLines.push(line);
      else if (text.startsWith("MFile ", at)) {
        division = Number(text.slice(at, end).split(" ")[3]) || 0;
        metre = headerMetre(division);
      }
    } else if ((first >= 48 && first <= 57) || first === 45) {
      const blank = text.indexOf(" ", at);
      if (blank > 0 && blank < end && text.startsWith(" TimeSig ", blank)) {
        const found = /^(\d+)\/(\d+)/.exec(text.slice(blank + 9, end));
        const tick = columnTick(text.slice(at, blank), metre);
        if (found && tick !== null) {
          metre = nextMetre(metre, division, tick, Number(found[1]), Number(found[2]));
          signatures.push({ line, metre });
        }
      }
    }
    at = end + 1;
  }
  return { division, trackLines, signatures };
}

// The track (0-based) and tick of a line, given the line's text and, for a
// folded continuation line, the text of the line it continues. Null for
// lines without a time (MFile, MTrk, TrkEnd, comments).
export function lineTime(index, lineNumber, lineText) {
  const column = lineText.split(" ", 1)[0];
  const track = countWhile(index.trackLines.length, (i) => index.trackLines[i] <= lineNumber) - 1;
  // A time signature's own line still counts in the metre before it.
  const sig = countWhile(index.signatures.length, (i) => index.signatures[i].line < lineNumber) - 1;
  const metre = sig >= 0 ? index.signatures[sig].metre : headerMetre(index.division);
  const tick = columnTick(column, metre);
  return tick === null || track < 0 ? null : { track, tick };
}
