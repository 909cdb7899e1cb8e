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

// Puts the cursor on a line (1-based) and selects down to another.
async function selectLines(first, last = first) {
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
