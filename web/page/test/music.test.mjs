// The page as a music editor, in Debian's chromium: the score form first,
// problems listed and found, the roll, the commands and playing. Each test
// drives one feature through the page's own controls and keys, and holds
// the result to the native programs: the editor's text to smfcat's
// listing, every download to what smfasm makes of the same text.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { startServer } from "./server.mjs";
import { realFiles, nativeListing, nativeAssembly } from "./native.mjs";

const dist = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../dist");
const shots = process.env.SMFASM_SCREENSHOTS ?? path.join(tmpdir(), "smfasm-web-screenshots");
const work = mkdtempSync(path.join(tmpdir(), "smfasm-music-"));
let server;
let browser;
let page;

before(async () => {
  mkdirSync(shots, { recursive: true });
  server = await startServer(dist);
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", timeout: 30000,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--autoplay-policy=no-user-gesture-required"],
  });
  page = await browser.newPage({ viewport: { width: 1280, height: 900 }, acceptDownloads: true });
  page.setDefaultTimeout(60000);
  page.on("pageerror", (error) => console.error(`page error: ${error.message}`));
  await page.goto(server.url);
  await page.waitForSelector("body[data-ready]");
});

after(async () => {
  await browser?.close();
  await server?.close();
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
  await page.waitForFunction((b) => window.smfasmPage.editorText() !== b, before, { polling: 50 });
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
