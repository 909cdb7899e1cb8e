// How the page copes with a big listing in headless chromium: the time
// from picking the file to a listing that has assembled, the longest task
// on the page's thread meanwhile, and then, with the listing open, the time
// from an input to the next frame for scrolling the editor and typing in
// it, and to the roll's new picture for scrolling the roll (zoomed in),
// with the time the page took to draw that picture. Medians of the
// runs; every run opens the file afresh in a new page.
//
//   node bench/big_listing.mjs FILE.mid [RUNS] [--ticks]   (after npm run build)
import { chromium } from "playwright-core";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { startServer } from "../test/server.mjs";
import { CHROMIUM_ARGS } from "../test/page_session.mjs";

const args = process.argv.slice(2);
const file = args.find((a) => !a.startsWith("--") && !/^\d+$/.test(a));
const runs = Number(args.find((a) => /^\d+$/.test(a)) ?? 3);
const ticks = args.includes("--ticks");
if (!file) throw new Error("usage: node bench/big_listing.mjs FILE.mid [RUNS] [--ticks]");
const dist = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../dist");
const server = await startServer(dist);
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", args: CHROMIUM_ARGS });
const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];

// Milliseconds from now to the frame after `act` runs in the page.
async function toNextFrame(page, act) {
  await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => done())));
  const start = await page.evaluate(() => performance.now());
  await act();
  return page.evaluate((t) => new Promise((done) => requestAnimationFrame(() => setTimeout(() => done(performance.now() - t), 0))), start);
}

const results = { open: [], longest: [], lines: 0, editorScroll: [], typing: [], rollScroll: [], rollDraw: [] };
try {
  for (let run = 0; run < runs; run++) {
    const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
    await page.goto(server.url);
    await page.waitForSelector("body[data-ready]");
    if (ticks) await page.setChecked('input[name="score"]', false);
    const since = await page.evaluate(() => performance.now());
    const begun = Date.now();
    await page.setInputFiles("#file-input", file);
    await page.waitForFunction(() => window.smfasmPage.state().assembled, null, { timeout: 300000, polling: 20 });
    results.open.push(Date.now() - begun);
    results.longest.push(await page.evaluate((t) => Math.max(0, ...window.smfasmPage.longTasks
      .filter((task) => task.start >= t).map((task) => task.duration)), since));
    results.lines = await page.evaluate(() => window.smfasmPage.editorText().split("\n").length);
    const editor = await page.locator(".cm-scroller").boundingBox();
    await page.mouse.move(editor.x + editor.width / 2, editor.y + editor.height / 2);
    for (let i = 0; i < 20; i++) results.editorScroll.push(await toNextFrame(page, () => page.mouse.wheel(0, 4000)));
    await page.click(".cm-content");
    for (let i = 0; i < 10; i++) results.typing.push(await toNextFrame(page, () => page.keyboard.type("#")));
    const roll = await page.locator("#roll").boundingBox();
    await page.mouse.move(roll.x + roll.width / 2, roll.y + roll.height / 2);
    await page.keyboard.down("Control");
    await page.mouse.wheel(0, -1500);
    await page.keyboard.up("Control");
    for (let i = 0; i < 20; i++) {
      const pictures = await page.evaluate(() => Number(document.querySelector(".roll-notes").dataset.pictures));
      results.rollScroll.push(await toNextFrame(page, async () => {
        await page.keyboard.down("Shift");
        await page.mouse.wheel(0, 300);
        await page.keyboard.up("Shift");
        await page.waitForFunction((n) => Number(document.querySelector(".roll-notes").dataset.pictures) > n, pictures, { polling: 5 });
      }));
      results.rollDraw.push(await page.evaluate(() => Number(document.querySelector(".roll-notes").dataset.drawMs)));
    }
    await page.close();
  }
} finally {
  await browser.close();
  await server.close();
}
const ms = (values) => `${median(values).toFixed(0)} ms (${values.length} runs, ${Math.min(...values).toFixed(0)}–${Math.max(...values).toFixed(0)})`;
console.log(`${path.basename(file)}, ${results.lines.toLocaleString("en")} lines in the ${ticks ? "tick listing" : "score form"}:`);
console.log(`  open to assembled: ${ms(results.open)}; longest task on the page's thread: ${ms(results.longest)}`);
console.log(`  to the next frame: editor scroll ${ms(results.editorScroll)}, typing ${ms(results.typing)}, roll scroll ${ms(results.rollScroll)}`);
console.log(`  the roll's picture drawn in ${ms(results.rollDraw)} (the rest of a roll scroll is the test's round trips)`);
