// The lines along the top of the piano roll: measures numbered the way the
// listing's measure column numbers them (from 0, restarting the count at
// each time signature after the whole measures before it), or seconds for
// SMPTE songs. Only as many as fit: every line at least a few pixels apart,
// labels further apart, both in steps of powers of two.
import { headerMetre, nextMetre } from "./listing_time.js";

const LINE_GAP = 6;
const LABEL_GAP = 40;

function stepFor(pixelsEach, gap) {
  let step = 1;
  while (step * pixelsEach < gap && step < 2 ** 30) step *= 2;
  return step;
}

function secondLines(song, width) {
  const seconds = song.endTick / song.ticksPerSecond;
  const step = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600].find((s) => (s / seconds) * width >= LABEL_GAP) ?? 1200;
  const lines = [];
  for (let s = 0; s <= seconds; s += step) lines.push({ tick: s * song.ticksPerSecond, label: `${s}s`, major: true });
  return lines;
}

export function measureLines(song, width) {
  if (song.ticksPerSecond > 0) return secondLines(song, width);
  const end = Math.max(song.endTick, 1);
  const pixelsPerTick = width / end;
  const lines = [];
  let metre = headerMetre(song.division);
  const segmentEnds = [...song.signatures.map((s) => s.tick), end + 1];
  for (let i = 0; i < segmentEnds.length; i++) {
    const perMeasure = metre.ticksPerBeat * metre.beatsPerMeasure;
    const until = Math.min(segmentEnds[i], end + 1);
    if (perMeasure > 0) {
      const lineStep = stepFor(perMeasure * pixelsPerTick, LINE_GAP);
      const labelStep = Math.max(lineStep, stepFor(perMeasure * pixelsPerTick, LABEL_GAP));
      for (let k = 0; metre.last + k * perMeasure < until; k += lineStep) {
        const number = metre.offset + k;
        const major = number % labelStep === 0;
        lines.push({ tick: metre.last + k * perMeasure, label: major ? String(number) : null, major });
      }
    }
    const sig = song.signatures[i];
    if (sig) metre = nextMetre(metre, song.division, sig.tick, sig.numerator, sig.denominator);
  }
  return lines;
}
