// The page's own readings of listings, checked against the native lister
// over the shipped sample and the real files: highlighting knows every line
// it writes, a bar:beat:tick turns back into the tick it stands for through
// the core's bars, and each of the core's notes is found on its line.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import path from "node:path";
import { realFiles, nativeListing } from "./native.mjs";
import { tokenizeLines } from "../src/listing_language.js";
import { listingLines, linesOf } from "../src/listing_lines.js";
import { SongView } from "../src/song_view.js";
import { startOrder } from "../src/song_order.js";
import * as smfasm from "../../npm/index.js";

const flagSets = [{}, { measures: true, noteNames: true, long: true }, { foldWidth: 20 }, { packets: true, foldWidth: 33 },
  { score: true }, { score: true, long: true, foldWidth: 20 }];

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

async function songView(file, options) {
  const bytes = new Uint8Array(readFileSync(file));
  const song = await smfasm.song(bytes);
  song.order = startOrder(song.notes.start);
  return new SongView(song, listingLines(nativeListing(file, options)));
}

// Every event but the notes, as (track, tick, keyword), in listing order.
function otherEvents(listing, tickOf) {
  let track = -1;
  const events = [];
  listing.split("\n").forEach((line, i) => {
    if (line.startsWith("MTrk")) track++;
    const [time, keyword] = line.split(" ", 2);
    if (!/^[\d:]+$/.test(time) || /^(Note|On|Off)$/.test(keyword)) return;
    events.push(`${track} ${tickOf(i + 1, line, time, track)} ${keyword}`);
  });
  return events;
}

test("a score line's bar:beat:tick is the tick of its event in the tick listing, and is written back as it was", async () => {
  for (const file of realFiles()) {
    const view = await songView(file, { score: true });
    const score = otherEvents(nativeListing(file, { score: true }), (line, text, time, track) => {
      const got = view.lineTime(line, text);
      assert.equal(got?.track, track, `${path.basename(file)} line ${line}: ${text}`);
      assert.equal(view.position(got.tick, track), time, `${path.basename(file)} line ${line}: ${text}`);
      return got.tick;
    });
    assert.deepEqual(score, otherEvents(nativeListing(file), (line, text, time) => Number(time)), path.basename(file));
  }
});

test("each of the core's notes is found on its line, in both forms, and each such line on its note", async () => {
  for (const file of realFiles()) {
    for (const options of [{ score: true }, { noteNames: true, long: true }]) {
      const listing = nativeListing(file, options).split("\n");
      const view = await songView(file, options);
      assert.ok(view.mapped, `${path.basename(file)}: ${view.count} notes, ${view.lines.noteLines.length} note lines`);
      const n = view.song.notes;
      for (let i = 0; i < view.count; i++) {
        const line = listing[view.noteLine(i) - 1];
        const where = `${path.basename(file)} ${JSON.stringify(options)} note ${i}: ${line}`;
        assert.ok(line.includes(`=${view.song.noteNames[n.key[i]]} `), where);
        assert.equal(view.lineTime(view.noteLine(i), line).tick, n.start[i], where);
        assert.equal(view.noteOfLine(view.noteLine(i)), i, where);
      }
    }
  }
});

test("a line of a tick listing in measures is placed at the tick and track of the plain tick listing's line", async () => {
  for (const file of realFiles()) {
    for (const options of [{ measures: true }, { measures: true, packets: true, foldWidth: 20 }]) {
      const bytes = new Uint8Array(readFileSync(file));
      const core = await smfasm.song(bytes);
      const measures = nativeListing(file, options);
      const lines = await linesOf(measures, (again) => smfasm.list(bytes, again), options.packets);
      const view = new SongView({ ...core, order: startOrder(core.notes.start) }, lines);
      const ticks = nativeListing(file, { packets: options.packets }).split("\n").filter((l) => !l.startsWith("\t"));
      let track = -1;
      let event = 0;
      measures.split("\n").forEach((line, i) => {
        if (line.startsWith("\t")) return;
        if (line === "MTrk") track++;
        const plain = ticks[event++];
        const want = /^-?\d+ /.test(plain) ? { track, tick: Number(plain.split(" ")[0]) } : null;
        assert.deepEqual(view.lineTime(i + 1, line), want, `${path.basename(file)} line ${i + 1}: ${line}`);
      });
    }
  }
});
