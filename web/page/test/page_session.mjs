// The built page in one headless chromium, as the browser tests open it:
// served from dist/, ready (the core answering in the worker), with errors
// on the page printed and downloads allowed.
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";
import { startServer } from "./server.mjs";

export const dist = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../dist");

// Chromium's own connections (updates, sync) are not the page's: a closed
// network refuses them, and the request test would see them.
export const CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// `watch` sees the page before it loads (to record its requests, say).
export async function openPageSession({ height = 860, args = [], watch = () => {} } = {}) {
  const server = await startServer(dist);
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", timeout: 30000, args: [...CHROMIUM_ARGS, ...args],
  });
  const page = await browser.newPage({ viewport: { width: 1280, height }, acceptDownloads: true });
  page.setDefaultTimeout(60000);
  watch(page);
  page.on("pageerror", (error) => console.error(`page error: ${error.message}`));
  await page.goto(server.url);
  await page.waitForSelector("body[data-ready]");
  return { server, browser, page };
}

export async function closePageSession(session) {
  await session?.browser.close();
  await session?.server.close();
}
