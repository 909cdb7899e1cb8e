// The editing commands on score listings, in Node against the native
// programs: what they write assembles without a warning and lists back
// as written, and what would break the music is refused.
import { test } from "node:test";
import assert from "node:assert/strict";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { realFiles, nativeListing, nativeAssembly } from "./native.mjs";
import { song as coreSong } from "../../npm/index.js";
import { listingLines } from "../src/listing_lines.js";
import { SongView } from "../src/song_view.js";
import { startOrder } from "../src/song_order.js";
import { deleteBars, insertBar, setTempo, shift, tracksOf, transpose } from "../src/score_edit.js";

async function scoreOf(file) {
  const text = nativeListing(file, { score: true });
  const core = await coreSong(new Uint8Array(readFileSync(file)));
  const view = new SongView({ ...core, order: startOrder(core.notes.start) }, listingLines(text));
  const lines = text.split("\n");
  const doc = { lineCount: lines.length, lineText: (n) => lines[n - 1] };
  return { text, lines, view, tracks: tracksOf(doc) };
}

function apply(lines, { changes }) {
  const out = lines.slice();
  for (const { from, to, lines: replacement } of [...changes].sort((a, b) => b.from - a.from)) {
    out.splice(from - 1, Math.max(0, to - from + 1), ...replacement);
  }
  return out.join("\n");
}

const work = mkdtempSync(path.join(tmpdir(), "smfasm-score-edit-"));
process.on("exit", () => rmSync(work, { recursive: true, force: true }));

function relisted(text, where) {
  const native = nativeAssembly(text);
  assert.ok(native.ok, `${where}\n${native.stderr}`);
  assert.doesNotMatch(native.stderr, /warning/);
  const file = path.join(work, "out.mid");
  writeFileSync(file, native.bytes);
  return nativeListing(file, { score: true });
}

test("each command on each track of every real file lists back as written, or is refused", async () => {
  let done = 0;
  for (const file of realFiles()) {
    const { text: listing, lines, view, tracks } = await scoreOf(file);
    // A file that lists only in part (the torture test) is no score to edit.
    if (view.song.division === 0 || !view.mapped || !nativeAssembly(listing).ok) continue;
    for (const track of tracks) {
      const notes = track.lines.filter((l) => / Note /.test(l.text));
      if (notes.length === 0) continue;
      const from = notes[0].number;
      const to = notes.at(-1).number;
      const beat = view.barAt(view.song.notes.start[view.noteOfLine(from)], 0)?.ticksPerBeat ?? 96;
      for (const result of [transpose(tracks, view, from, to, 1), transpose(tracks, view, from, to, -12),
        shift(tracks, view, from, to, beat), deleteBars(tracks, view, from, from), insertBar(tracks, view, from),
        setTempo(tracks, view, from, to, 96)]) {
        if (result.error) {
          assert.match(result.error, /past the keyboard|would sound over|before the start/, path.basename(file));
          continue;
        }
        // A track whose notes all went has no habits left to name on its MTrk line.
        const text = apply(lines, result);
        const plain = (t) => t.replace(/^MTrk .*$/gm, "MTrk");
        const where = `${path.basename(file)} ${JSON.stringify(result.changes[0]).slice(0, 300)}`;
        assert.equal(plain(relisted(text, where)), plain(text), where);
        done++;
      }
    }
  }
  assert.ok(done > 20, `${done} edits`);
});

test("in a file timed in SMPTE frames, which has no bars, bar commands and tempos are refused and notes still move in ticks", async () => {
  const listing = ["MFile 1 1 -25 40 score", "MTrk", "0 Note ch=1 n=c5 v=90 len=500", "1000 Note ch=1 n=d5 v=90 len=500",
    "2000 Meta TrkEnd", "TrkEnd", ""].join("\n");
  const file = path.join(work, "smpte.mid");
  writeFileSync(file, nativeAssembly(listing).bytes);
  const { lines, view, tracks } = await scoreOf(file);
  assert.match(setTempo(tracks, view, 3, 3, 96).error, /SMPTE/);
  assert.match(insertBar(tracks, view, 3).error, /no bars/);
  assert.match(deleteBars(tracks, view, 3, 3).error, /no bars/);
  const later = apply(lines, shift(tracks, view, 3, 3, 1500));
  assert.equal(later, listing.replace("0 Note ch=1 n=c5 v=90 len=500\n1000 Note ch=1 n=d5 v=90 len=500\n2000",
    "1000 Note ch=1 n=d5 v=90 len=500\n1500 Note ch=1 n=c5 v=90 len=500\n2000"));
  assert.equal(relisted(later, "smpte"), later);
});
