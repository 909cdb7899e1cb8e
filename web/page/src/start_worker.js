// Starts the page's worker under the page's own content security policy.
// A worker loaded from its URL runs under the policy its script was served
// with, which a static server sends none of (the page's policy is a <meta>
// tag), so that it could fetch anywhere and evaluate strings. A worker made
// from a blob: URL inherits its creator's policy instead, with any server;
// the blob holds only a few lines that load the real worker script, which
// then runs under that policy, as does everything it loads.
//
// Those lines also start fetching the WebAssembly module at once, while the
// worker script is still on its way, rather than after it has arrived and
// run: the two fetches in parallel save a round trip before the core can
// answer. Requests that come before the worker script has run are kept for
// it (worker.js takes them over), and a worker script that fails to load
// fails the worker, as a static import would.
export function startWorker() {
  const script = new URL("worker.js", import.meta.url);
  const wasm = new URL("smfasm-core.wasm", import.meta.url);
  const stub = new Blob([`self.smfasmStart = { requests: [], wasm: fetch(${JSON.stringify(wasm.href)})
  .then((response) => (response.ok ? response.arrayBuffer() : null)).catch(() => null) };
self.onmessage = ({ data }) => self.smfasmStart.requests.push(data);
import(${JSON.stringify(script.href)}).catch((error) => setTimeout(() => { throw error; }));
`], { type: "text/javascript" });
  const url = URL.createObjectURL(stub);
  const worker = new Worker(url, { type: "module" });
  // The worker has fetched its stub once it runs; the URL is no longer needed.
  worker.addEventListener("message", () => URL.revokeObjectURL(url), { once: true });
  return worker;
}
