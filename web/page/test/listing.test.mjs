// The page's own readings of listings and MIDI files, checked against the
// native lister over the shipped sample and the real files: highlighting
// knows every line it writes, a measure column turns back into the tick it
// stands for, and the notes read from the bytes are the listing's notes.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import path from "node:path";
import { realFiles, nativeListing } from "./native.mjs";
import { tokenizeLines } from "../src/listing_language.js";
import { indexListing, lineTime } from "../src/listing_time.js";
import { readSong } from "../src/midi_song.js";

const flagSets = [{}, { measures: true, noteNames: true, long: true }, { foldWidth: 20 }, { packets: true, foldWidth: 33 }];

test("every line the lister writes is highlighted without an invalid token", () => {
  for (const file of realFiles()) {
    for (const options of flagSets) {
      const lines = nativeListing(file, options).split("\n");
      tokenizeLines(lines).forEach((tokens, i) => {
        const bad = tokens.filter(([, style]) => style === "invalid");
        assert.deepEqual(bad, [], `${path.basename(file)} ${JSON.stringify(options)} line ${i + 1}: ${lines[i]}`);
      });
    }
  }
});

test("a measure column places its line at the tick and track of the tick listing", () => {
  for (const file of realFiles()) {
    const ticks = nativeListing(file).split("\n");
    const measures = nativeListing(file, { measures: true });
    const index = indexListing(measures);
    let track = -1;
    measures.split("\n").forEach((line, i) => {
      if (line === "MTrk") track++;
      const want = /^-?\d+ /.test(ticks[i]) ? { track, tick: Number(ticks[i].split(" ")[0]) } : null;
      assert.deepEqual(lineTime(index, i + 1, line), want, `${path.basename(file)} line ${i + 1}: ${line}`);
    });
  }
});

test("the notes read from the bytes are the listing's notes", () => {
  for (const file of realFiles()) {
    const song = readSong(new Uint8Array(readFileSync(file)));
    const listing = nativeListing(file);
    const starts = [...listing.matchAll(/^(\d+) On ch=(\d+) n=(\d+) v=(\d+)$/gm)].filter((m) => m[4] !== "0");
    assert.equal(song.notes.count, starts.length, path.basename(file));
    const listed = starts.map((m) => `${m[1]}/${m[3]}`).sort();
    const read = Array.from(song.notes.start, (tick, i) => `${tick}/${song.notes.pitch[i]}`).sort();
    assert.deepEqual(read, listed, path.basename(file));
    for (let i = 1; i < song.notes.count; i++) assert.ok(song.notes.start[i - 1] <= song.notes.start[i]);
    assert.equal(song.tempos.length, (listing.match(/^\d+ Tempo /gm) ?? []).length);
  }
});
