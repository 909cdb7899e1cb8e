// A tiny static file server for the browser test and the benchmark: it
// serves one folder on 127.0.0.1 only, on a free port, and nothing else.
import http from "node:http";
import { readFile } from "node:fs/promises";
import path from "node:path";

const types = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm",
  ".map": "application/json",
  ".mid": "audio/midi",
};

// Resolves with { url, close() }; route(request, response) may answer a
// request first (returning true) before files are looked up.
export function startServer(root, route = () => false) {
  const server = http.createServer(async (request, response) => {
    if (await route(request, response)) return;
    const name = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
    const file = path.join(root, name.endsWith("/") ? `${name}index.html` : name);
    if (!file.startsWith(root + path.sep)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { "content-type": types[path.extname(file)] ?? "application/octet-stream" });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      resolve({ url: `http://127.0.0.1:${port}/`, close: () => new Promise((done) => server.close(done)) });
    });
  });
}
