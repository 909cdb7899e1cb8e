// How long the page takes to be ready in headless chromium: from the start
// of navigation to the moment the WebAssembly core answers in the worker
// and the editor takes input (the page's "page-ready" mark). Each run loads
// the page into a fresh browser context, so nothing comes from a cache.
// Prints the median and the spread of the runs.
//
// Given more than one built page (folders like dist/), it loads them in
// turn, run by run, so that whatever else the machine does meanwhile falls
// on all of them alike: the fair way to compare two builds.
//
//   node bench/page_ready.mjs [RUNS] [DIST...]     (after npm run build)
import { chromium } from "playwright-core";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { startServer } from "../test/server.mjs";

const runs = Number(process.argv[2] ?? 15);
const here = path.dirname(fileURLToPath(import.meta.url));
const folders = process.argv.length > 3 ? process.argv.slice(3).map((d) => path.resolve(d)) : [path.resolve(here, "../dist")];
const servers = await Promise.all(folders.map((folder) => startServer(folder)));
const browser = await chromium.launch({ executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", args: ["--no-sandbox"] });
const times = folders.map(() => []);
try {
  for (let i = 0; i <= runs; i++) {
    for (const [k, server] of servers.entries()) {
      const context = await browser.newContext();
      const page = await context.newPage();
      await page.goto(server.url);
      await page.waitForSelector("body[data-ready]", { timeout: 30000 });
      const ready = await page.evaluate(() => performance.getEntriesByName("page-ready")[0].startTime);
      if (i > 0) times[k].push(ready); // the first round warms the browser itself up
      await context.close();
    }
  }
} finally {
  await browser.close();
  await Promise.all(servers.map((server) => server.close()));
}
for (const [k, folder] of folders.entries()) {
  const sorted = times[k].sort((a, b) => a - b);
  const median = sorted[sorted.length >> 1];
  const which = folders.length > 1 ? ` (${folder})` : "";
  console.log(`page ready in headless chromium${which}: median ${median.toFixed(0)} ms over ${runs} runs ` +
    `(fastest ${sorted[0].toFixed(0)} ms, slowest ${sorted.at(-1).toFixed(0)} ms)`);
}
