// Ticks to seconds and back, through the song's tempo map: the tempo events
// of all tracks in order of their tick, 120 beats a minute before the first.
// SMPTE songs run at a fixed number of ticks per second.
import { countWhile } from "./sorted.js";

export function tempoMap(song) {
  const segments = [];
  if (song.ticksPerSecond > 0) segments.push({ tick: 0, seconds: 0, perTick: 1 / song.ticksPerSecond });
  else {
    const perQuarter = Math.max(song.division, 1);
    let segment = { tick: 0, seconds: 0, perTick: 0.5 / perQuarter };
    segments.push(segment);
    for (const { tick, micros } of song.tempos) {
      const seconds = segment.seconds + (tick - segment.tick) * segment.perTick;
      segment = { tick, seconds, perTick: micros / 1e6 / perQuarter };
      if (segments.at(-1).tick === tick) segments[segments.length - 1] = segment;
      else segments.push(segment);
    }
  }
  const find = (key, value) => segments[Math.max(0, countWhile(segments.length, (i) => segments[i][key] <= value) - 1)];
  return {
    toSeconds(tick) {
      const s = find("tick", tick);
      return s.seconds + (tick - s.tick) * s.perTick;
    },
    toTick(seconds) {
      const s = find("seconds", seconds);
      return s.perTick > 0 ? s.tick + (seconds - s.seconds) / s.perTick : s.tick;
    },
  };
}
