// Stands in for the package's song() until the package has it: the same
// shape, read by the page's old reader, bars counted in 4/4 and at each
// time signature of the first track.
import { readSong } from "./midi_song.js";

export function fallbackSong(bytes) {
  const old = readSong(bytes);
  const n = old.notes;
  const file = new Uint32Array(n.count);
  for (let i = 0; i < n.count; i++) file[i] = i;
  file.sort((a, b) => n.track[a] - n.track[b] || n.start[a] - n.start[b] || a - b);
  const pick = (column, Type) => Type.from(file, (i) => column[i]);
  const division = old.ticksPerSecond > 0 ? 0 : old.division;
  const bars = { track: [], number: [], tick: [], numerator: [], denominator: [], ticksPerBeat: [] };
  if (division > 0) {
    const sigs = old.signatures;
    let numerator = 4;
    let denominator = 4;
    let next = 0;
    for (let tick = 0, number = 1; tick <= old.endTick; number++) {
      while (next < sigs.length && sigs[next].tick <= tick) ({ numerator, denominator } = sigs[next++]);
      const perBeat = Math.max(1, (division * 4) / denominator);
      bars.track.push(0);
      bars.number.push(number);
      bars.tick.push(tick);
      bars.numerator.push(numerator);
      bars.denominator.push(denominator);
      bars.ticksPerBeat.push(perBeat);
      const end = tick + numerator * perBeat;
      tick = next < sigs.length && sigs[next].tick < end ? sigs[next].tick : end;
    }
  }
  return {
    ok: true, messages: [], format: 1, division, tracks: old.tracks.length, endTick: old.endTick,
    notes: {
      track: pick(n.track, Uint16Array), channel: pick(n.channel, Uint8Array), key: pick(n.pitch, Uint8Array),
      velocity: pick(n.velocity, Uint8Array), start: pick(n.start, Float64Array),
      length: Float64Array.from(file, (i) => n.end[i] - n.start[i]),
    },
    unpairedOffs: { track: new Uint16Array(0), channel: new Uint8Array(0), key: new Uint8Array(0), tick: new Float64Array(0) },
    programs: { track: new Uint16Array(0), channel: new Uint8Array(0), tick: new Float64Array(0), program: new Uint8Array(0) },
    tempos: { tick: Float64Array.from(old.tempos, (t) => t.tick), microsPerQuarter: Uint32Array.from(old.tempos, (t) => t.micros) },
    bars: {
      track: Uint16Array.from(bars.track), number: Uint32Array.from(bars.number), tick: Float64Array.from(bars.tick),
      numerator: Uint8Array.from(bars.numerator), denominator: Uint16Array.from(bars.denominator),
      ticksPerBeat: Uint32Array.from(bars.ticksPerBeat),
    },
  };
}
