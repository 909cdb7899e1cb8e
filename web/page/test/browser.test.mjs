// The page in a real browser (Debian's chromium through playwright-core),
// used through its own controls: open files, switch flags, type, download.
// The native programs are the reference: the editor must hold exactly what
// smfdis writes, and the download must be exactly what smfasm makes of the
// editor's text. Screenshots of each state go to SMFASM_SCREENSHOTS.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { readFile } from "node:fs/promises";
import http from "node:http";
import { createHash } from "node:crypto";
import { tmpdir } from "node:os";
import path from "node:path";
import { startServer } from "./server.mjs";
import { dist, openPageSession, closePageSession } from "./page_session.mjs";
import { realFiles, nativeListing, nativeAssembly, denseFile } from "./native.mjs";

const shots = process.env.SMFASM_SCREENSHOTS ?? path.join(tmpdir(), "smfasm-web-screenshots");
const work = mkdtempSync(path.join(tmpdir(), "smfasm-browser-"));
let session;
let server;
let browser;
let page;
const requests = [];

before(async () => {
  mkdirSync(shots, { recursive: true });
  session = await openPageSession({ watch: (p) => p.on("request", (request) => requests.push(request.url())) });
  ({ server, browser, page } = session);
});

after(async () => {
  await closePageSession(session);
  rmSync(work, { recursive: true, force: true });
});

const shoot = (name) => page.screenshot({ path: path.join(shots, `${name}.png`) });
const pageState = () => page.evaluate(() => window.smfasmPage.state());

// Waits until the page has listed once more than `listings` and the text
// assembled (or failed to, when `assembles` is false).
async function settled(listings, assembles = true) {
  await page.waitForFunction(([n, ok]) => {
    const s = window.smfasmPage.state();
    return s.listings > n && !s.busy && (ok ? s.assembled : document.querySelector(".cm-lint-marker-error"));
  }, [listings, assembles], { polling: 50 });
}

async function openFile(file) {
  const { listings } = await pageState();
  await page.setInputFiles("#file-input", file);
  await settled(listings);
}

// Sets the flags through the form, as a user clicks them, and waits for
// the listing under them when a file is open.
async function setFlags(options) {
  const wanted = { score: false, measures: false, noteNames: false, long: false, foldWidth: 0, packets: false, ...options };
  const { listings, name, listOptions } = await pageState();
  if (options.foldWidth) await page.fill('input[name="foldWidth"]', String(options.foldWidth));
  // The score form has bars and note names of its own: those two boxes rest.
  for (const [name, on] of Object.entries({
    score: !!options.score, measures: !!options.measures, noteNames: !!options.noteNames, long: !!options.long,
    packets: !!options.packets, fold: !!options.foldWidth,
  })) {
    if (options.score && (name === "measures" || name === "noteNames")) continue;
    await page.setChecked(`input[name="${name}"]`, on);
  }
  if (name === null || JSON.stringify(listOptions) === JSON.stringify(wanted)) return;
  await page.waitForFunction(([n, w]) => {
    const s = window.smfasmPage.state();
    return s.listings > n && !s.busy && s.assembled && JSON.stringify(s.listOptions) === JSON.stringify(w);
  }, [listings, wanted], { polling: 50 });
}

const editorText = () => page.evaluate(() => window.smfasmPage.editorText());

test("the editor holds the native listing byte for byte under several flag sets", async () => {
  const flagSets = [{}, { measures: true, noteNames: true, long: true }, { foldWidth: 40, packets: true },
    { noteNames: true, foldWidth: 20 }, { score: true }, { score: true, long: true, foldWidth: 40, packets: true }];
  const files = realFiles().filter((f) => /demo|coleraine|ce3k|drums/.test(path.basename(f)));
  for (const file of files) {
    await setFlags({});
    await openFile(file);
    for (const options of flagSets) {
      await setFlags(options);
      assert.equal(await editorText(), nativeListing(file, options), `${path.basename(file)} ${JSON.stringify(options)}`);
    }
  }
  await setFlags({ measures: true, noteNames: true });
  await page.click(".cm-content");
  await shoot("listing-with-measures-and-note-names");
});

// Goes to a line and column (1-based) through the keyboard.
async function goTo(line, column) {
  await page.click(".cm-content");
  await page.keyboard.press("Control+Home");
  for (let i = 1; i < line; i++) await page.keyboard.press("ArrowDown");
  await page.keyboard.press("Home");
  for (let i = 1; i < column; i++) await page.keyboard.press("ArrowRight");
}

function lineOf(text, pattern) {
  return text.split("\n").findIndex((l) => pattern.test(l)) + 1;
}

test("a typed edit downloads as what the native assembler makes of the same text", async () => {
  const file = realFiles().find((f) => path.basename(f) === "coleraine.mid") ?? realFiles()[0];
  await setFlags({});
  await openFile(file);
  const line = lineOf(await editorText(), / On ch=1 n=\d+ v=\d+$/);
  const text = (await editorText()).split("\n")[line - 1];
  await goTo(line, text.length + 1);
  await page.keyboard.press("Backspace");
  await page.keyboard.type("7");
  await page.waitForFunction(() => window.smfasmPage.state().assembled, null, { polling: 50 });
  const edited = await editorText();
  assert.notEqual(edited, nativeListing(file));
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
  assert.equal(download.suggestedFilename(), path.basename(file));
  const native = nativeAssembly(edited);
  assert.ok(native.ok, native.stderr);
  assert.deepEqual(readFileSync(await download.path()), native.bytes);
  await shoot("edited");
  // Other flags list the edited music, not the file as it was opened.
  const edit = path.join(work, "edited.mid");
  writeFileSync(edit, native.bytes);
  await setFlags({ measures: true });
  assert.equal(await editorText(), nativeListing(edit, { measures: true }));
  await setFlags({});
  assert.equal(await editorText(), edited);
});

test("a bad line is marked at the line and column the native assembler names", async () => {
  const line = lineOf(await editorText(), / On ch=1 n=\d+ v=\d+$/) + 1;
  const text = (await editorText()).split("\n")[line - 1];
  const column = text.indexOf("ch=") + 1;
  await goTo(line, column);
  await page.keyboard.type("x");
  await page.waitForSelector(".cm-lint-marker-error");
  await page.waitForFunction(() => !window.smfasmPage.state().assembled && window.smfasmPage.diagnostics().length > 0);
  const native = nativeAssembly(await editorText());
  const where = /:(\d+):(\d+): (.*)/.exec(native.stderr);
  assert.ok(where, native.stderr);
  const marks = await page.evaluate(() => window.smfasmPage.diagnostics());
  assert.deepEqual(marks[0], { line: Number(where[1]), column: Number(where[2]), severity: "error", message: where[3] });
  assert.equal(marks[0].line, line);
  assert.ok(await page.isDisabled("#download"));
  // While the text has errors the flags stay as they are, and so does the text.
  const bad = await editorText();
  await page.click('input[name="long"]');
  await page.waitForFunction(() => document.querySelector("#status").textContent.startsWith("Fix the listing"));
  assert.equal(await page.isChecked('input[name="long"]'), false);
  assert.equal(await editorText(), bad);
  await page.hover(".cm-lintRange-error");
  await page.waitForSelector(".cm-tooltip-lint");
  await shoot("error-mark");
  await page.keyboard.press("Control+z");
  await page.waitForFunction(() => window.smfasmPage.state().assembled, null, { polling: 50 });
});

test("the piano roll draws the notes and the synthesizer sounds", async () => {
  const file = realFiles().find((f) => path.basename(f) === "coleraine.mid") ?? realFiles()[0];
  await openFile(file);
  await page.waitForFunction(() => Number(document.querySelector(".roll-notes").dataset.drawn) > 0);
  const painted = await page.evaluate(() => {
    const canvas = document.querySelector(".roll-notes");
    const { data } = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height);
    let count = 0;
    for (let i = 0; i < data.length; i += 4) if (Math.max(data[i], data[i + 1], data[i + 2]) - Math.min(data[i], data[i + 1], data[i + 2]) > 80) count++;
    return count;
  });
  assert.ok(painted > 500, `${painted} note pixels`);
  const sound = await page.evaluate(() => window.smfasmPage.renderOffline(2));
  assert.ok(sound.rms > 0.005 && sound.peak <= 1.5, JSON.stringify(sound));
  await shoot("piano-roll");
});

test("the demo plays and stops through the page's buttons", async () => {
  const { listings } = await pageState();
  await page.click("#demo");
  await settled(listings);
  await page.click("#play");
  await page.waitForFunction(() => document.querySelector("#stop").disabled === false);
  await page.waitForTimeout(800);
  await shoot("demo-playing");
  await page.click("#stop");
  assert.ok(await page.isEnabled("#play"));
});

// The longest task on the page's thread while it opens a file. A machine
// busy with other work stretches any one task, so a second opening is
// allowed to show what the page itself does.
async function longestTaskOpening(file, limit) {
  let longest = Infinity;
  for (let attempt = 0; attempt < 2 && longest > limit; ++attempt) {
    const since = await page.evaluate(() => performance.now());
    await openFile(file);
    longest = await page.evaluate((t) => Math.max(0, ...window.smfasmPage.longTasks
      .filter((task) => task.start >= t).map((task) => task.duration)), since);
  }
  return longest;
}

test("a 10 MB file lists with no main-thread task over 200 ms", async () => {
  await setFlags({});
  const file = denseFile(work, 10);
  const longest = await longestTaskOpening(file, 200);
  assert.ok(longest <= 200, `a task of ${longest} ms`);
  const digest = await page.evaluate(async () => {
    const bytes = new TextEncoder().encode(window.smfasmPage.editorText());
    return Array.from(new Uint8Array(await crypto.subtle.digest("SHA-256", bytes)), (b) => b.toString(16).padStart(2, "0")).join("");
  });
  assert.equal(digest, createHash("sha256").update(nativeListing(file), "latin1").digest("hex"));
  await shoot("dense-10-mib");
});

// One system-exclusive message of 10 MiB: a single listing line of 30 MB.
function oneLongSysEx(mebibytes) {
  const size = mebibytes << 20;
  const data = Buffer.alloc(size + 1, 0x2a);
  data[size] = 0xf7;
  const length = [];
  for (let n = data.length; n > 0 || length.length === 0; n >>>= 7) length.unshift((n & 0x7f) | (length.length ? 0x80 : 0));
  const events = Buffer.concat([Buffer.from([0, 0xf0, ...length]), data, Buffer.from([0, 0xff, 0x2f, 0])]);
  const head = Buffer.from([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 0x4d, 0x54, 0x72, 0x6b]);
  const track = Buffer.alloc(4);
  track.writeUInt32BE(events.length);
  const file = path.join(work, `sysex${mebibytes}.mid`);
  writeFileSync(file, Buffer.concat([head, track, events]));
  return file;
}

test("a 10 MiB system-exclusive line lists with no main-thread task over 150 ms", async () => {
  await setFlags({});
  const file = oneLongSysEx(10);
  const longest = await longestTaskOpening(file, 149);
  assert.ok(longest < 150, `a task of ${longest} ms`);
  assert.equal((await editorText()).length, nativeListing(file).length);
});

test("a file that is neither MIDI nor a UTF-8 listing is refused, and the open listing stays", async () => {
  const before = await editorText();
  const { listings } = await pageState();
  const junk = path.join(work, "junk.bin");
  writeFileSync(junk, Buffer.from([0x52, 0x49, 0x46, 0x46, 0xff, 0xfe, 0x00, 0x80]));
  await page.setInputFiles("#file-input", junk);
  await page.waitForFunction(() => document.querySelector("#status").textContent.includes("neither a MIDI file"));
  assert.equal((await pageState()).listings, listings);
  assert.equal(await editorText(), before);
  assert.notEqual(await page.textContent("#file-name"), "junk.bin");
});

test("a file that lists only in part says so, and downloads what was listed under a name of its own", async () => {
  const whole = realFiles().find((f) => path.basename(f) === "coleraine.mid") ?? realFiles()[0];
  const file = path.join(work, "damaged.mid");
  const bytes = Buffer.concat([readFileSync(whole), Buffer.alloc(100, 0x55)]);
  writeFileSync(file, bytes);
  await setFlags({});
  await openFile(file);
  const native = nativeAssembly(await editorText());
  assert.ok(native.ok, native.stderr);
  const status = await page.textContent("#status");
  assert.match(status, /^The file did not list completely \(Error: [^)]+\): the download holds only what was listed, /);
  assert.ok(status.endsWith(`${native.bytes.length.toLocaleString("en")} of ${bytes.length.toLocaleString("en")} bytes`), status);
  assert.match(await page.getAttribute("#status", "class"), /\bbad\b/);
  assert.equal(await page.textContent("#download"), "Download partial MIDI");
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
  assert.equal(download.suggestedFilename(), "damaged.partial.mid");
  assert.deepEqual(readFileSync(await download.path()), native.bytes);
  await shoot("partial-file");
  await openFile(whole);
  assert.equal(await page.textContent("#download"), "Download MIDI");
  assert.match(await page.textContent("#status"), /^Assembles to /);
});

// Drops files on the page as a file manager does: each inner list is one
// drop, and all of them happen in one turn of the page's event loop, so
// that a listing under way cannot end between them.
function drop(...drops) {
  return page.evaluate((lists) => {
    for (const list of lists) {
      const data = new DataTransfer();
      for (const { name, bytes } of list) data.items.add(new File([new Uint8Array(bytes)], name));
      document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: data, bubbles: true, cancelable: true }));
    }
  }, drops.map((files) => files.map((file) => ({ name: path.basename(file), bytes: [...readFileSync(file)] }))));
}

test("files dropped while a file lists wait, and the newest opens; several at once are refused aloud", async () => {
  const [first, second] = realFiles().filter((f) => /demo|coleraine/.test(path.basename(f)));
  await setFlags({});
  const { listings } = await pageState();
  await page.setInputFiles("#file-input", denseFile(work, 4));
  await page.waitForFunction(() => window.smfasmPage.state().busy, null, { polling: 10 });
  await drop([first], [second]);
  // The dropped files are read before they count: the status says so once they are.
  const waiting = `${path.basename(second)} opens as soon as the page is free, instead of ${path.basename(first)}…`;
  await page.waitForFunction((text) => document.querySelector("#status").textContent === text, waiting, { polling: 10, timeout: 10000 })
    .catch(async () => assert.equal(await page.textContent("#status"), waiting));
  await page.waitForFunction(([n, name]) => {
    const s = window.smfasmPage.state();
    return s.listings > n + 1 && !s.busy && s.assembled && s.name === name;
  }, [listings, path.basename(second)], { polling: 50 });
  assert.equal((await pageState()).listings, listings + 2);
  assert.equal(await editorText(), nativeListing(second));
  await drop([first, second]);
  assert.equal(await page.textContent("#status"), "Failed: 2 files were dropped and none opened: drop one file at a time");
  assert.equal((await pageState()).name, path.basename(second));
});

// Code added to the worker's script as the test serves it, so that it runs
// as the worker's own would: it tries what the page's policy forbids.
const probe = `
self.addEventListener("message", async ({ data }) => {
  if (data.op !== "probe") return;
  const tried = {};
  try { await fetch(data.url); tried.fetch = "done"; } catch { tried.fetch = "refused"; }
  try { new Function("return 1")(); tried.evaluate = "done"; } catch { tried.evaluate = "refused"; }
  try { eval("1"); tried.eval = "done"; } catch { tried.eval = "refused"; }
  self.postMessage({ probe: tried });
});`;

test("the worker runs under the page's content security policy, served as the README serves it", async () => {
  let reached = 0;
  const elsewhere = http.createServer((request, response) => {
    reached++;
    response.writeHead(200, { "access-control-allow-origin": "*" }).end("reached");
  });
  await new Promise((done) => elsewhere.listen(0, "127.0.0.1", done));
  // Like python3 -m http.server: plain files, no policy header.
  const probed = await startServer(dist, async (request, response) => {
    if (new URL(request.url, "http://localhost").pathname !== "/worker.js") return false;
    const script = await readFile(path.join(dist, "worker.js"), "utf8");
    response.writeHead(200, { "content-type": "text/javascript" }).end(`${script}\n${probe}\n`);
    return true;
  });
  const other = await browser.newPage();
  try {
    await other.goto(probed.url);
    await other.waitForSelector("body[data-ready]");
    const tried = await other.evaluate((url) => new Promise((resolve) => {
      globalThis.smfasmWorker.addEventListener("message", ({ data }) => data.probe && resolve(data.probe));
      globalThis.smfasmWorker.postMessage({ op: "probe", id: 0, url });
    }), `http://127.0.0.1:${elsewhere.address().port}/`);
    assert.deepEqual(tried, { fetch: "refused", evaluate: "refused", eval: "refused" });
    assert.equal(reached, 0);
    // A worker started from its URL has no policy: it refuses to work.
    const answer = await other.evaluate(() => new Promise((resolve) => {
      const bare = new Worker("worker.js", { type: "module" });
      bare.onmessage = ({ data }) => data.kind && resolve(data);
      bare.postMessage({ op: "start", id: 1 });
    }));
    assert.equal(answer.kind, "failed");
    assert.match(answer.error, /content security policy/);
  } finally {
    await other.close();
    await probed.close();
    await new Promise((done) => elsewhere.close(done));
  }
});

// The worker fetches the WebAssembly module while its own script is still
// on its way, and keeps the page's first request for it. Here its script is
// held back until the module has been asked for, and that first fetch of
// the module fails: the core then loads from its URL after all.
test("the worker asks for the core before its script is in, keeps the page's first request, and loads the core anyway when that fetch fails", async () => {
  const other = await browser.newPage();
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  const order = [];
  await other.route(/\/worker\.js$/, async (route) => {
    order.push("worker.js asked");
    await held;
    order.push("worker.js served");
    await route.continue();
  });
  await other.route(/\/smfasm-core\.wasm$/, async (route) => {
    order.push("module asked");
    if (order.filter((step) => step === "module asked").length === 1) {
      release();
      await route.abort();
    } else await route.continue();
  });
  try {
    await other.goto(server.url);
    await other.waitForSelector("body[data-ready]");
    assert.deepEqual(order.filter((step) => step !== "worker.js asked"), ["module asked", "worker.js served", "module asked"]);
    await other.setInputFiles("#file-input", realFiles()[0]);
    await other.waitForFunction(() => window.smfasmPage.state().assembled, null, { polling: 50 });
    assert.equal(await other.evaluate(() => window.smfasmPage.editorText()), nativeListing(realFiles()[0], { score: true }));
  } finally {
    release();
    await other.close();
  }
});

// The roll, the synthesizer, the problem panel and the commands load only
// after the page is ready: held back here until a file has been opened.
test("the page is usable as soon as it is ready: it takes typing, and a file opened before its later parts are in opens when they are", async () => {
  const file = realFiles().find((f) => path.basename(f) === "coleraine.mid") ?? realFiles()[0];
  const other = await browser.newPage();
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  let asked = 0;
  await other.route(/\/later-[^/]*\.js$/, async (route) => {
    asked++;
    await held;
    await route.continue();
  });
  try {
    await other.goto(server.url);
    await other.waitForSelector("body[data-ready]");
    await other.waitForFunction(() => document.querySelector("#status").textContent.startsWith("Open or drop"));
    assert.equal(await other.locator("#help-keys tr").count(), 0, "the later parts came in before the page was ready");
    await other.keyboard.type("# typed at once");
    assert.equal(await other.evaluate(() => window.smfasmPage.editorText()), "# typed at once");
    await other.setInputFiles("#file-input", file);
    await other.waitForFunction((name) => document.querySelector("#status").textContent === `${name} opens as soon as the page has loaded…`,
      path.basename(file));
    assert.equal(asked, 1);
    release();
    await other.waitForFunction(() => {
      const s = window.smfasmPage.state();
      return s.listings === 1 && !s.busy && s.assembled;
    }, null, { polling: 50 });
    assert.equal(await other.evaluate(() => window.smfasmPage.editorText()), nativeListing(file, { score: true }));
    assert.ok((await other.evaluate(() => window.smfasmPage.roll().notes)) > 0);
    assert.ok((await other.locator("#help-keys tr").count()) > 0);
  } finally {
    release();
    await other.close();
  }
});

test("the page fetches nothing but its own files", () => {
  const foreign = requests.filter((url) => !url.startsWith(server.url) && !/^(data|blob):/.test(url));
  assert.deepEqual(foreign, []);
});
