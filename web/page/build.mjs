// Builds the page into dist/: the page's scripts and the worker bundled by
// esbuild, the WebAssembly module beside them, the HTML, the style and the
// demo tune, assembled from its listing by the package itself. The result is
// static files that any server can serve.
//
// boot.js and worker.js are each one file, so that neither waits for
// another before it runs: they start the core. main.js is split where it
// imports what comes after the page is ready (later.js), into chunks
// named later-*.js.
import * as esbuild from "esbuild";
import { copyFileSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import path from "node:path";

const here = path.dirname(fileURLToPath(import.meta.url));
const dist = path.join(here, "dist");
const npmPackage = path.resolve(here, "../npm");

// @codemirror/commands makes a word segmenter as it loads, for subword
// commands the page binds to no key. Making one loads the browser's word
// dictionaries: 10 to 40 ms of the page's start on this machine, for
// nothing. Marked as a call without side effects, the segmenter goes with
// those commands when the bundler drops them, and were they ever bound, it
// would still be made as the module loads, as before.
const unusedSegmenter = {
  name: "unused-segmenter",
  setup(build) {
    build.onLoad({ filter: /[\\/]@codemirror[\\/]commands[\\/]dist[\\/]index\.js$/ }, async (args) => {
      const source = readFileSync(args.path, "utf8");
      const made = /const segmenter = (typeof Intl != "undefined" && Intl\.Segmenter \?\s*\/\*@__PURE__\*\/new \(Intl\.Segmenter\)\(undefined, \{ granularity: "word" \}\) : null);/;
      if (!made.test(source)) throw new Error(`${args.path}: its word segmenter is no longer where the page's build expects it`);
      return { contents: source.replace(made, "const segmenter = /*@__PURE__*/ (() => $1)();"), loader: "js" };
    });
  },
};

rmSync(dist, { recursive: true, force: true });
mkdirSync(dist, { recursive: true });

const options = {
  outdir: dist,
  bundle: true,
  format: "esm",
  minify: process.env.SMFASM_PAGE_DEBUG === undefined,
  sourcemap: true,
  target: "es2022",
  platform: "browser",
  // The package is used from its folder, as it is built beside the page.
  alias: { smfasm: path.join(npmPackage, "index.js") },
  external: ["node:*"],
  logLevel: "warning",
  plugins: [unusedSegmenter],
};
await esbuild.build({ ...options, entryPoints: { boot: path.join(here, "src/boot.js"), worker: path.join(here, "src/worker.js") } });
const page = await esbuild.build({
  ...options, entryPoints: { main: path.join(here, "src/main.js") }, splitting: true, chunkNames: "later-[hash]", metafile: true,
});
for (const file of Object.keys(page.metafile.outputs).filter((name) => name.endsWith(".js"))) {
  if (readFileSync(file, "utf8").includes("Segmenter")) throw new Error(`${file} makes a word segmenter as it loads`);
}

for (const [from, to] of [
  [path.join(here, "src/index.html"), "index.html"],
  [path.join(here, "src/style.css"), "style.css"],
  [path.join(npmPackage, "smfasm-core.wasm"), "smfasm-core.wasm"],
]) {
  copyFileSync(from, path.join(dist, to));
}

const smfasm = await import(path.join(npmPackage, "index.js"));
const demo = await smfasm.assemble(readFileSync(path.join(here, "src/demo.txt"), "utf8"), { name: "demo.txt" });
if (!demo.ok) throw new Error(`the demo tune does not assemble:\n${demo.text}`);
writeFileSync(path.join(dist, "demo.mid"), demo.bytes);
console.log(`page built in ${path.relative(process.cwd(), dist) || "."}`);
