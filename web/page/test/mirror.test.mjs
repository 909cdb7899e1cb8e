// The worker's copy of the text must follow every edit exactly, or the
// page would assemble and download something other than what it shows:
// random multi-range edits (CodeMirror's own change sets, as typing,
// pasting and replacing all make them) give the same text on both sides.
// Also the tempo map that places notes in time for the synthesizer.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { ChangeSet, Text } from "@codemirror/state";
import { mirrorChanges, applyChanges } from "../src/text_mirror.js";
import { tempoMap } from "../src/song_time.js";
import { song as coreSong } from "../../npm/index.js";
import { SongView } from "../src/song_view.js";
import { startOrder } from "../src/song_order.js";
import { arrangeSong as arrange } from "../src/performance.js";
import { realFiles } from "./native.mjs";

// A small seeded generator (mulberry32): integers from 0 to n - 1.
function random(seed) {
  let state = seed;
  return (n) => {
    state = (state + 0x6d2b79f5) | 0;
    let t = Math.imul(state ^ (state >>> 15), 1 | state);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) % n;
  };
}

test("the mirrored text equals the editor's text after random edits", () => {
  const next = random(7);
  const words = ["", "a", "\n", "0 On ch=1 n=60 v=64\n", "é", "\t\\\n", "MTrk\n"];
  let doc = Text.of(["MFile 0 1 96", "MTrk", "0 Meta TrkEnd", "TrkEnd", ""]);
  let mirror = doc.toString();
  for (let round = 0; round < 500; round++) {
    const spec = [];
    for (let at = 0, n = next(4); n > 0 && at <= doc.length; n--) {
      const from = at + next(Math.max(1, doc.length - at + 1));
      if (from > doc.length) break;
      const to = Math.min(doc.length, from + next(6));
      spec.push({ from, to, insert: words[next(words.length)] });
      at = to + 1;
    }
    const changes = ChangeSet.of(spec, doc.length);
    doc = changes.apply(doc);
    mirror = applyChanges(mirror, mirrorChanges(changes));
    assert.equal(mirror, doc.toString(), `round ${round}`);
  }
});

test("the tempo map turns ticks into seconds and back", async () => {
  for (const file of realFiles()) {
    const core = await coreSong(new Uint8Array(readFileSync(file)));
    const song = arrange(new SongView({ ...core, order: startOrder(core.notes.start) }, null));
    const map = tempoMap(song);
    let previous = -1;
    for (let tick = 0; tick <= song.endTick; tick += Math.max(1, song.endTick >> 6)) {
      const seconds = map.toSeconds(tick);
      assert.ok(seconds > previous, `${file} tick ${tick}`);
      assert.ok(Math.abs(map.toTick(seconds) - tick) < 1e-6, `${file} tick ${tick}`);
      previous = seconds;
    }
  }
});
