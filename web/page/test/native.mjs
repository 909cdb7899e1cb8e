// The native programs as the reference the page is held to, and the files
// the tests use. Paths come from the environment (run.sh sets them).
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, readdirSync, rmSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";

const env = (name) => {
  if (!process.env[name]) throw new Error(`${name} is not set: run the tests through test/run.sh`);
  return process.env[name];
};

const sourceDir = () => env("SMFASM_SOURCE_DIR");

// The command-line flags that stand for the page's list options.
function listFlags({ measures, noteNames, long, foldWidth, packets }) {
  const letters = `${measures ? "b" : ""}${noteNames ? "n" : ""}${long ? "v" : ""}${packets ? "m" : ""}`;
  return [...(letters ? [`-${letters}`] : []), ...(foldWidth ? [`-f${foldWidth}`] : [])];
}

function inTemporaryDir(work) {
  const dir = mkdtempSync(path.join(tmpdir(), "smfasm-page-"));
  try {
    return work(dir);
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// smfcat, beside smfdis unless named.
const smfcat = () => process.env.SMFCAT ?? path.join(path.dirname(env("SMFDIS")), "smfcat");

// smfdis's listing of a file under the options, as text; in the score
// form (options.score), smfcat --score's.
export function nativeListing(file, options = {}) {
  if (options.score) {
    const run = spawnSync(smfcat(), ["--score", ...listFlags({ ...options, measures: false, noteNames: false }), file]);
    return run.stdout.toString("latin1");
  }
  return inTemporaryDir((dir) => {
    const out = path.join(dir, "out.mtx");
    spawnSync(env("SMFDIS"), [...listFlags(options), file, out], { input: "" });
    return readFileSync(out, "latin1");
  });
}

// smfasm on a text: { ok, bytes, stderr }.
export function nativeAssembly(text) {
  return inTemporaryDir((dir) => {
    writeFileSync(path.join(dir, "in.mtx"), text);
    const run = spawnSync(env("SMFASM"), ["in.mtx", "out.mid"], { cwd: dir });
    const out = path.join(dir, "out.mid");
    return { ok: run.status === 0, bytes: existsSync(out) ? readFileSync(out) : null, stderr: run.stderr.toString() };
  });
}

// A dense generated file of about size MiB (bench/make_midi.cpp).
export function denseFile(dir, mebibytes) {
  const file = path.join(dir, `dense${mebibytes}.mid`);
  spawnSync(env("MAKE_MIDI"), ["dense", String(mebibytes), file], { stdio: "ignore" });
  return file;
}

// The shipped sample and the real files written by other software, when
// run.sh could make them (Debian's abcmidi and midicsv).
export function realFiles() {
  const files = [path.join(sourceDir(), "examples/demo.mid")];
  const dir = process.env.SMFASM_REAL_FILES;
  if (dir && existsSync(dir)) {
    files.push(...readdirSync(dir).filter((f) => f.endsWith(".mid")).sort().map((f) => path.join(dir, f)));
  }
  return files;
}
