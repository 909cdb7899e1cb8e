// How long the page takes to be ready in headless chromium: from the start
// of navigation to the moment the WebAssembly core answers in the worker
// and the editor takes input (the page's "page-ready" mark). Each run loads
// the page into a fresh browser context, so nothing comes from a cache.
// Prints the median and the spread of the runs.
//
//   node bench/page_ready.mjs [RUNS]      (after npm run build)
import { chromium } from "playwright-core";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { startServer } from "../test/server.mjs";

const runs = Number(process.argv[2] ?? 15);
const dist = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../dist");
const server = await startServer(dist);
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", args: ["--no-sandbox"] });
const times = [];
try {
  for (let i = 0; i <= runs; i++) {
    const context = await browser.newContext();
    const page = await context.newPage();
    await page.goto(server.url);
    await page.waitForSelector("body[data-ready]", { timeout: 30000 });
    const ready = await page.evaluate(() => performance.getEntriesByName("page-ready")[0].startTime);
    if (i > 0) times.push(ready); // the first run warms the browser itself up
    await context.close();
  }
} finally {
  await browser.close();
  await server.close();
}
times.sort((a, b) => a - b);
const median = times[times.length >> 1];
console.log(`page ready in headless chromium: median ${median.toFixed(0)} ms over ${runs} runs ` +
  `(fastest ${times[0].toFixed(0)} ms, slowest ${times.at(-1).toFixed(0)} ms)`);
