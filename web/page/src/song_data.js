// The one door through which the page learns what a MIDI file holds: the
// notes, programs, tempo map and bars, all from the core through the
// package's song(), so that the roll, the synthesizer and the bar lines
// never disagree with the listing. Runs in the worker. What it adds here is
// arrangement only: the notes in order of their start for drawing and
// playing, and the header's SMPTE rate, which the core reports as division 0.
import { song as readSong } from "smfasm";
import { startOrder } from "./song_order.js";
import { noteExtent } from "./song_view.js";

// Ticks per second of a file timed in SMPTE frames (0 for one in beats):
// frames per second (29 stands for 29.97) times ticks per frame.
function smpteRate(bytes) {
  if (bytes.length < 14 || !(bytes[12] & 0x80)) return 0;
  const fps = 256 - bytes[12];
  return (fps === 29 ? 29.97 : fps) * bytes[13];
}

// The song of a MIDI file, as the package's song() gives it, with `order`,
// `ticksPerSecond`, `pitches` (the lowest and highest key) and `extent`
// (noteExtent: where the notes end, for the roll).
export async function readSongData(bytes) {
  const song = await readSong(bytes);
  const n = song.notes;
  let low = 127;
  let high = 0;
  for (let i = 0; i < n.key.length; i++) {
    if (n.key[i] < low) low = n.key[i];
    if (n.key[i] > high) high = n.key[i];
  }
  const order = startOrder(n.start);
  return {
    ...song, order, ticksPerSecond: smpteRate(bytes), pitches: low <= high ? [low, high] : null,
    extent: noteExtent({ ...song, order }),
  };
}

// The typed arrays of a song, each buffer once, to hand to postMessage.
export function songTransfer(song) {
  const buffers = new Set();
  const add = (value) => {
    if (ArrayBuffer.isView(value)) buffers.add(value.buffer);
    else if (value && typeof value === "object" && !Array.isArray(value)) Object.values(value).forEach(add);
  };
  add(song);
  return [...buffers].filter((b) => b instanceof ArrayBuffer && b.byteLength > 0);
}
