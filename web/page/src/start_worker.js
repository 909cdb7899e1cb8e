// Starts the page's worker under the page's own content security policy.
// A worker loaded from its URL runs under the policy its script was served
// with, which a static server sends none of (the page's policy is a <meta>
// tag), so that it could fetch anywhere and evaluate strings. A worker made
// from a blob: URL inherits its creator's policy instead, with any server;
// the blob holds only an import of the real worker script, which then runs
// under that policy, as does everything it loads.
export function startWorker() {
  const script = new URL("worker.js", import.meta.url);
  const stub = new Blob([`import ${JSON.stringify(script.href)};\n`], { type: "text/javascript" });
  const url = URL.createObjectURL(stub);
  const worker = new Worker(url, { type: "module" });
  // The worker has fetched its stub once it runs; the URL is no longer needed.
  worker.addEventListener("message", () => URL.revokeObjectURL(url), { once: true });
  return worker;
}
