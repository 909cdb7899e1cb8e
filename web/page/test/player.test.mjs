// A Stop pressed while the audio context is still starting must win: the
// Play waiting for the context may not start the song after it.
import { test } from "node:test";
import assert from "node:assert/strict";
import { Player } from "../src/synth.js";

test("Stop while the audio context starts cancels the waiting Play", async () => {
  let started;
  globalThis.AudioContext = class {
    resume() {
      return new Promise((resolve) => (started = resolve));
    }
  };
  try {
    const positions = [];
    const player = new Player({ onPosition: (tick) => positions.push(tick), onEnd: () => {} });
    const song = { endTick: 0, notes: { count: 0, start: [] }, tempos: [] };
    const play = player.play(song, 0);
    player.stop();
    started();
    await play;
    assert.equal(player.playing, null);
    assert.deepEqual(positions, []);
  } finally {
    delete globalThis.AudioContext;
  }
});
