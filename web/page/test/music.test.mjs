// The page as a music editor, in Debian's chromium: the score form first,
// problems listed and found, the roll, the commands and playing. Each test
// drives one feature through the page's own controls and keys, and holds
// the result to the native programs: the editor's text to smfcat's
// listing, every download to what smfasm makes of the same text.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { openPageSession, closePageSession } from "./page_session.mjs";
import { realFiles, nativeListing, nativeAssembly } from "./native.mjs";

const shots = process.env.SMFASM_SCREENSHOTS ?? path.join(tmpdir(), "smfasm-web-screenshots");
const work = mkdtempSync(path.join(tmpdir(), "smfasm-music-"));
let session;
let page;

before(async () => {
  mkdirSync(shots, { recursive: true });
  session = await openPageSession({ height: 900, args: ["--autoplay-policy=no-user-gesture-required"] });
  page = session.page;
});

after(async () => {
  await closePageSession(session);
  rmSync(work, { recursive: true, force: true });
});

const shoot = (name) => page.screenshot({ path: path.join(shots, `${name}.png`) });
const state = () => page.evaluate(() => window.smfasmPage.state());
const editorText = () => page.evaluate(() => window.smfasmPage.editorText());
const assembled = () => page.waitForFunction(() => window.smfasmPage.state().assembled, null, { polling: 50 });
const coleraine = () => realFiles().find((f) => path.basename(f) === "coleraine.mid") ?? realFiles()[0];

async function openFile(file) {
  const { listings } = await state();
  await page.setInputFiles("#file-input", file);
  await page.waitForFunction((n) => {
    const s = window.smfasmPage.state();
    return s.listings > n && !s.busy && s.assembled;
  }, listings, { polling: 50 });
}

// Downloads, and checks the bytes are what smfasm makes of the editor's text.
async function downloadIsNative() {
  const text = await editorText();
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
  const native = nativeAssembly(text);
  assert.ok(native.ok, native.stderr);
  const bytes = readFileSync(await download.path());
  assert.deepEqual(bytes, native.bytes);
  return bytes;
}

// The editor's text after the change, once it has assembled again.
async function afterEdit(change) {
  const before = await editorText();
  await change();
  await page.waitForFunction((b) => window.smfasmPage.editorText() !== b, before, { polling: 50, timeout: 10000 })
    .catch(async (error) => assert.fail(`${error.message}: ${await status()}`));
  await assembled();
  return editorText();
}

// Selects whole lines (1-based) in the editor, which takes the keys.
async function selectLines(first, last = first) {
  await page.focus(".cm-content");
  await page.evaluate(([a, b]) => window.smfasmPage.select(a, b), [first, last]);
}

const lineOf = (text, pattern) => text.split("\n").findIndex((l) => pattern.test(l)) + 1;

test("a file opens in the score form, the tick listing is one toggle away, and both download as smfasm makes them", async () => {
  const file = coleraine();
  await openFile(file);
  assert.equal(await page.isChecked('input[name="score"]'), true);
  assert.equal(await editorText(), nativeListing(file, { score: true }));
  assert.deepEqual(await downloadIsNative(), readFileSync(file));
  await shoot("score-form");
  const { listings } = await state();
  await page.setChecked('input[name="score"]', false);
  await page.waitForFunction((n) => window.smfasmPage.state().listings > n && window.smfasmPage.state().assembled, listings);
  assert.equal(await editorText(), nativeListing(file));
  // The tick listing keeps no byte habits, so only smfasm's bytes are the measure here.
  await downloadIsNative();
  await page.setChecked('input[name="score"]', true);
  await page.waitForFunction((n) => window.smfasmPage.state().listings > n + 1 && window.smfasmPage.state().assembled, listings);
  assert.equal(await editorText(), nativeListing(file, { score: true }));
});

// Types text at the end of a line, as a user does.
async function typeAtEnd(line, text) {
  await selectLines(line);
  await page.keyboard.press("End");
  await page.keyboard.type(text);
}

const problems = () => page.$$eval("#problems li", (items) => items.map((li) => ({
  severity: li.className, where: li.querySelector(".where")?.textContent, text: li.textContent,
})));

test("a never-ending note is a warning drawn striped, a velocity of 200 an error that blocks the download, and a click on it goes there", async () => {
  const file = coleraine();
  await openFile(file);
  const text = await editorText();
  const noteLine = lineOf(text, / Note ch=\d+ n=\S+ v=\d+ len=/);
  const time = text.split("\n")[noteLine - 1].split(" ")[0];
  // A note that nothing ends: the listing still assembles, with a warning.
  const edited = await afterEdit(() => typeAtEnd(noteLine, `\n${time} On ch=16 n=c6 v=50`));
  let listed = await problems();
  assert.equal(listed.length, 1, JSON.stringify(listed));
  assert.equal(listed[0].severity, "warning");
  assert.match(listed[0].text, /still sounds at the end of the track/);
  assert.equal((await page.evaluate(() => window.smfasmPage.roll())).hanging, 1);
  assert.match(await page.textContent("#download"), /^Download MIDI \(1 warning\)$/);
  await downloadIsNative();
  await shoot("hanging-note");
  // A velocity past 127: an error, at the column smfasm names; no download.
  const velocity = edited.split("\n")[noteLine - 1].indexOf(" v=") + 4;
  await selectLines(noteLine);
  await page.keyboard.press("Home");
  for (let i = 1; i < velocity; i++) await page.keyboard.press("ArrowRight");
  await page.keyboard.press("Shift+End");
  await page.keyboard.type("200 len=1/8");
  await page.waitForSelector("#problems li.error");
  listed = await problems();
  const error = listed.find((p) => p.severity === "error");
  const native = nativeAssembly(await editorText());
  const where = /:(\d+):(\d+): (?!warning)(.*)/.exec(native.stderr);
  assert.equal(error.where, `${where[1]}:${where[2]}`);
  assert.ok(error.text.endsWith(where[3]), `${error.text} / ${where[3]}`);
  assert.ok(await page.isDisabled("#download"));
  const marks = (await page.evaluate(() => window.smfasmPage.roll())).problems;
  assert.ok(marks.some((m) => m.severity === "error"), JSON.stringify(marks));
  await page.click(".cm-content");
  await page.keyboard.press("Control+Home");
  await page.click("#problems li.error .where");
  assert.deepEqual(await page.evaluate(() => window.smfasmPage.cursor()), { line: Number(where[1]), column: Number(where[2]) });
  await shoot("problem-panel");
});

test("in the tick listing too a data value above 127 is an error, where smfasm only warns", async () => {
  const file = coleraine();
  await openFile(file);
  const { listings } = await state();
  await page.setChecked('input[name="score"]', false);
  await page.waitForFunction((n) => window.smfasmPage.state().listings > n && window.smfasmPage.state().assembled, listings);
  const line = lineOf(await editorText(), / On ch=\d+ n=\d+ v=\d+$/);
  const velocity = /v=(\d+)$/.exec((await editorText()).split("\n")[line - 1])[1];
  await typeAtEnd(line, "");
  for (const _ of velocity) await page.keyboard.press("Shift+ArrowLeft");
  await page.keyboard.type("200");
  await page.waitForSelector("#problems li.error");
  const native = nativeAssembly(await editorText());
  assert.ok(native.ok && /warning: the velocity \d+ is not a MIDI data byte/.test(native.stderr), native.stderr);
  assert.match((await problems()).find((p) => p.severity === "error").text, /is not a MIDI data byte \(0 to 127\); the page does not write it/);
  assert.ok(await page.isDisabled("#download"));
  await page.keyboard.press("Control+z");
  await assembled();
  assert.ok(await page.isEnabled("#download"));
  await page.setChecked('input[name="score"]', true);
});

const roll = () => page.evaluate(() => window.smfasmPage.roll());
const rollBox = () => page.locator("#roll").boundingBox();

test("the roll names keys as the listing does, numbers bars as its times do, zooms and scrolls, and points to lines", async () => {
  const file = coleraine();
  await openFile(file);
  const text = await editorText();
  let view = await roll();
  assert.ok(view.keyLabels.includes("c5") && view.keyLabels.every((l) => /^[a-g]#?\d+$/.test(l)), view.keyLabels.join());
  // Each bar number drawn stands at the tick of that bar's first beat in the listing.
  const lines = text.split("\n");
  for (const { number, tick } of view.barLabels.slice(0, 6)) {
    const line = lines.findIndex((l) => l.startsWith(`${number}:1:0 Note `)) + 1;
    if (line === 0) continue;
    const note = await page.evaluate((n) => { window.smfasmPage.select(n, n); return window.smfasmPage.roll().cursor; }, line);
    assert.equal(note.tick, tick, `bar ${number}`);
  }
  // Zoom and scroll: wheel, Ctrl+wheel, Shift+wheel, keys and buttons.
  const box = await rollBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.keyboard.down("Control");
  await page.mouse.wheel(0, -400);
  await page.keyboard.up("Control");
  await page.waitForFunction((p) => window.smfasmPage.roll().ticksPerPixel < p, view.ticksPerPixel);
  view = await roll();
  await page.keyboard.down("Shift");
  await page.mouse.wheel(0, 300);
  await page.keyboard.up("Shift");
  await page.waitForFunction((t) => window.smfasmPage.roll().tick0 > t, view.tick0);
  view = await roll();
  await page.mouse.wheel(0, 200);
  await page.waitForFunction((k) => window.smfasmPage.roll().keyTop < k, view.keyTop);
  view = await roll();
  await page.focus("#roll");
  await page.keyboard.press("Shift+Equal");
  await page.keyboard.press("+");
  await page.waitForFunction((v) => window.smfasmPage.roll().rowPixels > v.rowPixels, view);
  view = await roll();
  await page.click('button[data-roll="zoom-out"]');
  await page.waitForFunction((p) => window.smfasmPage.roll().ticksPerPixel > p, view.ticksPerPixel);
  await page.click('button[data-roll="fit"]');
  await page.waitForFunction(() => window.smfasmPage.roll().tick0 === 0);
  // A click on a note selects its line; the cursor on a line outlines its note.
  const noteLine = lines.findIndex((l, i) => i > 40 && / Note /.test(l)) + 1;
  await page.click('button[data-roll="keys-in"]');
  await page.click('button[data-roll="zoom-in"]');
  await selectLines(noteLine);
  await page.waitForFunction(() => window.smfasmPage.roll().selected >= 0);
  const point = await page.evaluate((n) => window.smfasmPage.notePoint(n), noteLine);
  await selectLines(1);
  await page.mouse.click(box.x + point.x, box.y + point.y);
  assert.equal((await page.evaluate(() => window.smfasmPage.cursor())).line, noteLine);
  await shoot("roll-zoomed");
});

// What smfcat --score makes of smfasm's file of the text: a command leaves
// the text as the lister would write its music.
function relisted(text) {
  const native = nativeAssembly(text);
  assert.ok(native.ok, native.stderr);
  assert.doesNotMatch(native.stderr, /warning/, native.stderr);
  const file = path.join(work, "relisted.mid");
  writeFileSync(file, native.bytes);
  return nativeListing(file, { score: true });
}

const noteLines = (text) => text.split("\n").filter((l) => / Note /.test(l));
const status = () => page.textContent("#status");

test("transposing by keys and buttons is one undo step each, refuses to leave the keyboard, and downloads as smfasm makes it", async () => {
  await openFile(coleraine());
  const original = await editorText();
  const lines = original.split("\n");
  const first = lines.findIndex((l) => / Note /.test(l)) + 1;
  await selectLines(first, first + 5);
  const up = await afterEdit(() => page.keyboard.press("Alt+ArrowUp"));
  const upLines = up.split("\n");
  for (let n = first; n <= first + 5; n++) {
    const was = / n=(\S+)/.exec(lines[n - 1])[1];
    const now = / n=(\S+)/.exec(upLines[n - 1])[1];
    assert.equal(keyOf(now), keyOf(was) + 1, `line ${n}: ${lines[n - 1]} → ${upLines[n - 1]}`);
    assert.equal(upLines[n - 1].replace(/ n=\S+/, ""), lines[n - 1].replace(/ n=\S+/, ""));
  }
  assert.equal(relisted(up), up);
  const octave = await afterEdit(() => page.click('button[data-command="octave-down"]'));
  assert.equal(relisted(octave), octave);
  await downloadIsNative();
  await page.focus(".cm-content");
  await page.keyboard.press("Control+z");
  await page.waitForFunction((t) => window.smfasmPage.editorText() === t, up);
  await page.keyboard.press("Control+z");
  await page.waitForFunction((t) => window.smfasmPage.editorText() === t, original);
  // Ten octaves up leaves the keyboard: refused, nothing changes.
  await assembled();
  await selectLines(first, first + 5);
  let refused = false;
  for (let i = 0; i < 11 && !refused; i++) {
    const before = await editorText();
    await page.keyboard.press("Alt+Shift+ArrowUp");
    refused = await page.waitForFunction((b) => {
      if (/past the keyboard|would sound over/.test(document.querySelector("#status").textContent)) return "refused";
      return window.smfasmPage.editorText() !== b && window.smfasmPage.state().assembled && "moved";
    }, before, { polling: 50 }).then(async (answer) => (await answer.jsonValue()) === "refused");
  }
  assert.ok(refused);
  assert.ok(noteLines(await editorText()).every((l) => keyOf(/ n=(\S+)/.exec(l)[1]) <= 127));
});

const NAMES = ["c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"];
function keyOf(name) {
  const [, letter, octave] = /^([a-g]#?)(\d+)$/.exec(name);
  return NAMES.indexOf(letter) + 12 * Number(octave);
}

test("moving by a beat and a bar keeps each track in time order and each note its length, and comes back", async () => {
  await openFile(coleraine());
  const original = await editorText();
  const lines = original.split("\n");
  // The whole of the second track's notes: their own notes never collide.
  const first = lines.findIndex((l) => / Note /.test(l));
  const last = lines.findIndex((l, i) => i > first && l === "TrkEnd") - 2;
  await selectLines(first + 1, last + 1);
  const later = await afterEdit(() => page.keyboard.press("Alt+ArrowRight"));
  assert.equal(relisted(later), later);
  const moved = later.split("\n").filter((l) => / Note ch=1 /.test(l));
  assert.equal(moved.length, original.split("\n").filter((l) => / Note ch=1 /.test(l)).length);
  const bar = await afterEdit(() => page.keyboard.press("Alt+Shift+ArrowRight"));
  assert.equal(relisted(bar), bar);
  await afterEdit(() => page.click('button[data-command="bar-earlier"]'));
  // All comes back but the track's end, which moves out for notes, never in.
  const back = await afterEdit(() => page.keyboard.press("Alt+ArrowLeft"));
  const withoutEnds = (t) => t.split("\n").filter((l) => !/ Meta TrkEnd$/.test(l)).join("\n");
  assert.equal(withoutEnds(back), withoutEnds(original));
  assert.equal(relisted(back), back);
  await downloadIsNative();
  // A note moved onto one of its own key would come back with the lengths
  // swapped: refused.
  const clashing = back.split("\n").findIndex((l) => l.startsWith("2:5:1 Note ch=1 n=e6")) + 1;
  await selectLines(clashing);
  await page.keyboard.press("Alt+ArrowLeft");
  await page.waitForFunction(() => /would sound over another of its key/.test(document.querySelector("#status").textContent));
  assert.equal(await editorText(), back);
});

test("deleting bars takes their notes and moves the rest up; inserting a bar moves the rest down; a tempo is set in bpm", async () => {
  await openFile(coleraine());
  const original = await editorText();
  const lines = original.split("\n");
  const inBars = (text, a, b) => noteLines(text).filter((l) => {
    const bar = Number(l.split(":")[0]);
    return bar >= a && bar <= b;
  }).length;
  const first = lines.findIndex((l) => l.startsWith("3:")) + 1;
  const last = lines.findIndex((l) => l.startsWith("5:")) ;
  await selectLines(first, last);
  const deleted = await afterEdit(() => page.keyboard.press("Alt+Shift+Backspace"));
  assert.equal(relisted(deleted), deleted);
  assert.equal(noteLines(deleted).length, noteLines(original).length - inBars(original, 3, 4));
  assert.equal(inBars(deleted, 3, 3), inBars(original, 5, 5));
  await selectLines(deleted.split("\n").findIndex((l) => l.startsWith("3:")) + 1);
  const inserted = await afterEdit(() => page.click('button[data-command="insert-bar"]'));
  assert.equal(relisted(inserted), inserted);
  assert.equal(inBars(inserted, 3, 3), 0);
  assert.equal(inBars(inserted, 4, 4), inBars(original, 5, 5));
  // 96 bpm from the cursor's bar on, in the first track.
  await selectLines(inserted.split("\n").findIndex((l) => l.startsWith("6:1:1 Note")) + 1);
  await page.fill("#bpm", "96");
  const tempo = await afterEdit(() => page.press("#bpm", "Enter"));
  assert.equal(relisted(tempo), tempo);
  assert.ok(tempo.split("\n").slice(0, 20).includes("6:1:1 Tempo 96bpm"), tempo.slice(0, 800));
  await downloadIsNative();
  await shoot("commands");
});

test("the selection plays and stops at its end, the cursor plays from its line, Escape stops at once; the keys are listed", async () => {
  await openFile(coleraine());
  const lines = (await editorText()).split("\n");
  const first = lines.findIndex((l) => l.startsWith("3:1:1 Note ch=1 ")) + 1;
  await selectLines(first);
  const start = (await roll()).cursor.tick;
  await selectLines(first, first + 2);
  await page.keyboard.press("Alt+p");
  await page.waitForFunction(() => window.smfasmPage.playing() && window.smfasmPage.roll().playhead !== null);
  const { playhead } = await roll();
  assert.ok(playhead >= start, `${playhead} from ${start}`);
  // Three notes last about a second; playing stops by itself.
  await page.waitForFunction(() => !window.smfasmPage.playing(), null, { timeout: 5000 });
  assert.ok(await page.isEnabled("#play"));
  // From the cursor, until Escape.
  const later = lines.findIndex((l) => l.startsWith("20:1:1 ")) + 1;
  await selectLines(later);
  await page.keyboard.press("End");
  await page.keyboard.press("Alt+p");
  await page.waitForFunction(() => window.smfasmPage.playing() && window.smfasmPage.roll().playhead !== null);
  const from = (await roll()).cursor.tick;
  await page.waitForTimeout(1200);
  const at = (await roll()).playhead;
  assert.ok(at > from, `${at} after ${from}`);
  await shoot("playing-from-cursor");
  await page.keyboard.press("Escape");
  assert.equal(await page.evaluate(() => window.smfasmPage.playing()), false);
  assert.ok(await page.isDisabled("#stop"));
  // The help box lists every command's key.
  await page.keyboard.press("Alt+k");
  assert.ok(await page.isVisible("#help"));
  const keys = await page.$$eval("#help-keys kbd", (all) => all.map((k) => k.textContent));
  assert.ok(["Alt+↑", "Alt+Shift+↑", "Alt+→", "Alt+Shift+→", "Alt+Shift+Backspace", "Alt+Shift+b", "Alt+t", "Alt+p", "Escape"]
    .every((k) => keys.includes(k)), keys.join(" "));
  await shoot("keys");
  await page.keyboard.press("Escape");
  assert.ok(await page.isHidden("#help"));
  // With nothing to stop or close, Escape is the editor's: it closes search.
  await page.keyboard.press("Control+f");
  await page.waitForSelector(".cm-search");
  await page.keyboard.press("Escape");
  await page.waitForSelector(".cm-search", { state: "detached" });
});

test("a command that would break a byte-habit mark is tried first and takes the mark off", async () => {
  const listing = ["MFile 1 1 96 score", "MTrk end=on running=Off,PoPr,Par,Pb,PrCh,ChPr", "1:1:0 Tempo 120bpm", "1:1:0 Par ch=1 c=7 v=100",
    "1:1:0 Note ch=1 n=c5 v=90 len=1/4", "1:2:0 Note ch=1 n=d5 v=90 len=1/4 status=0", "1:3:0 Par ch=2 c=7 v=100",
    "1:4:0 Note ch=1 n=e5 v=90 len=1/4", "2:1:0 Meta TrkEnd", "TrkEnd", ""].join("\n");
  const file = path.join(work, "marks.mid");
  writeFileSync(file, nativeAssembly(listing).bytes);
  await openFile(file);
  assert.equal(await editorText(), listing);
  await selectLines(5);
  // Moved behind d5, c5 leaves d5's status=0 after a controller: an error, unless the mark goes.
  const moved = await afterEdit(() => page.keyboard.press("Alt+ArrowRight"));
  assert.deepEqual(moved.split("\n").slice(4, 6), ["1:2:0 Note ch=1 n=d5 v=90 len=1/4", "1:2:0 Note ch=1 n=c5 v=90 len=1/4"]);
  assert.deepEqual(await problems(), []);
  await downloadIsNative();
});
