// What the synthesizer plays, arranged from the core's song: the notes in
// order of their start with the program their channel has then, and the
// tempo map, in the shape synth.js and song_time.js take.

export function arrangeSong(view) {
  const song = view.song;
  const n = song.notes;
  const { order } = song;
  const count = order.length;
  const notes = {
    count, start: new Float64Array(count), end: new Float64Array(count), pitch: new Uint8Array(count),
    velocity: new Uint8Array(count), channel: new Uint8Array(count), program: new Uint8Array(count),
  };
  // Program changes by tick, swept along with the notes.
  const p = song.programs;
  const changes = Array.from(p.tick, (_, i) => i).sort((a, b) => p.tick[a] - p.tick[b] || a - b);
  const program = new Uint8Array(16);
  let next = 0;
  for (let k = 0; k < count; k++) {
    const i = order[k];
    while (next < changes.length && p.tick[changes[next]] <= n.start[i]) {
      program[p.channel[changes[next]]] = p.program[changes[next]];
      next++;
    }
    notes.start[k] = n.start[i];
    notes.end[k] = view.end[i];
    notes.pitch[k] = n.key[i];
    notes.velocity[k] = n.velocity[i];
    notes.channel[k] = n.channel[i];
    notes.program[k] = program[n.channel[i]];
  }
  const t = song.tempos;
  const tempos = Array.from(t.tick, (tick, i) => ({ tick, micros: t.microsPerQuarter[i] })).sort((a, b) => a.tick - b.tick);
  return {
    notes, tempos, division: song.division || 96, ticksPerSecond: song.ticksPerSecond, endTick: song.endTick,
  };
}
