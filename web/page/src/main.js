// The page: wires the controls, the editor, the piano roll and the
// synthesizer to the worker, which does all the listing and assembling.
// The text in the editor is the truth; the worker keeps a copy of it that
// every edit updates, and assembles it shortly after typing stops.
import { ListingEditor } from "./editor.js";
import { WorkerClient } from "./worker_client.js";
import { FlagControls } from "./controls.js";
import { PianoRoll } from "./piano_roll.js";
import { Player, renderOffline } from "./synth.js";
import { acceptFiles, midiName, saveBytes } from "./files.js";
import { lineTime } from "./listing_time.js";
import { Status } from "./status.js";
import { startWorker } from "./start_worker.js";

// Long tasks on this thread, kept for the browser test and for anyone
// curious in the console.
const longTasks = [];
new PerformanceObserver((list) => {
  for (const entry of list.getEntries()) longTasks.push({ start: entry.startTime, duration: entry.duration });
}).observe({ type: "longtask", buffered: true });

const ASSEMBLE_DELAY = 300;
const $ = (id) => document.getElementById(id);

const page = {
  name: null,
  version: 0, // counts the editor's texts; an answer for an older one is dropped
  listOptions: null, // the flags the editor's text was listed with
  index: null, // where each line sits in time (listing_time.js)
  good: null, // { version, bytes } of the last text that assembled
  // { problem, size } when the opened MIDI file did not list completely:
  // its text, however edited, stands for part of the file only.
  partial: null,
  timer: 0,
  busy: false,
  relistAgain: false, // the flags changed while a listing was on its way
  next: null, // { name, bytes } of the newest file opened while the page was busy
  listings: 0,
};

const worker = new WorkerClient(globalThis.smfasmWorker ?? startWorker());
const status = new Status($("status"), $("messages"));
const roll = new PianoRoll($("roll"), $("legend"));
const flags = new FlagControls($("flags"), { onListChange: relist, onAssembleChange: () => scheduleAssemble(0) });
const player = new Player({ onPosition: (tick) => roll.setPlayhead(tick), onEnd: () => showPlaying(false) });
const editor = new ListingEditor($("editor"), {
  onEdit(changes) {
    worker.send("edit", { changes });
    page.version++;
    scheduleAssemble(ASSEMBLE_DELAY);
  },
  onCursorLine: showCursor,
});

function assembleOptions() {
  return { packets: page.listOptions?.packets ?? false, runningStatus: flags.runningStatus(), name: page.name ?? "listing" };
}

function showCursor(line) {
  if (!page.index) return roll.setCursor(null);
  // A folded continuation line belongs to the line it continues.
  let n = line;
  while (n > 1 && editor.lineText(n).startsWith("\t")) n--;
  roll.setCursor(lineTime(page.index, n, editor.lineText(n)));
}

function showSong(song, index) {
  if (song) roll.setSong(song);
  if (index) page.index = index;
  showPlaying(player.playing !== null);
  showCursor(editor.cursorLine());
}

// While the worker lists, flags may still change (they are taken up when
// it is done), and a file opened meanwhile waits its turn (openNext).
function setBusy(busy) {
  page.busy = busy;
  for (const id of ["open", "demo"]) $(id).disabled = busy;
}

// Sends a request that answers with a listing, and puts the listing into
// the editor piece by piece as it comes. The editor is read-only from the
// start, so that nothing typed meanwhile goes astray.
async function receiveListing(op, payload, transfer = []) {
  setBusy(true);
  clearTimeout(page.timer);
  editor.setReadOnly(true);
  let started = false;
  const start = () => {
    if (started) return;
    started = true;
    player.stop();
    editor.startLoading();
    page.version++;
    page.good = null;
    page.index = null;
    roll.clear();
  };
  const answer = await worker.request(op, payload, { transfer, onPiece: (text) => { start(); editor.appendPiece(text); } });
  setBusy(false);
  // A file waiting to open is listed under the flags as they are now.
  if (page.next) page.relistAgain = false;
  if (page.relistAgain) {
    page.relistAgain = false;
    setTimeout(relist, 0);
  }
  setTimeout(openNext, 0);
  if (answer.kind === "done") start();
  if (!started) {
    editor.setReadOnly(false);
    return answer;
  }
  editor.finishLoading();
  if (answer.kind !== "done") return answer;
  if (op === "open") showPartial(answer.complete === false ? { problem: firstLine(answer.messages), size: answer.size } : null);
  page.listOptions = payload.list;
  page.listings++;
  status.listed(page.name, editor.lineCount(), answer.messages);
  showSong(answer.song, answer.index);
  scheduleAssemble(0);
  return answer;
}

const firstLine = (text) => text.trim().split("\n")[0] || "it stops short";

// A file that listed only in part keeps saying so, in the status line and
// on the Download button, and is saved under a name of its own, never over
// the file it came from.
function showPartial(partial) {
  page.partial = partial;
  const button = $("download");
  button.textContent = partial ? "Download partial MIDI" : "Download MIDI";
  button.title = partial ? "The file did not list completely: save what was listed, as a file of its own"
    : "Save the assembled MIDI file";
}

// A file opened while the page is busy opens as soon as it is free; of
// several opened meanwhile, the newest wins, and the status says which.
function openNext() {
  if (page.busy || !page.next) return;
  const { name, bytes } = page.next;
  page.next = null;
  openFile(name, bytes);
}

async function openFile(name, bytes) {
  if (page.busy) {
    const instead = page.next && page.next.name !== name ? `, instead of ${page.next.name}` : "";
    page.next = { name, bytes };
    status.working(`${name} opens as soon as the page is free${instead}…`);
    return;
  }
  const previous = page.name;
  page.name = name;
  status.working(`Listing ${name}…`);
  const answer = await receiveListing("open", { bytes, list: flags.listOptions() }, [bytes]);
  if (answer.kind === "failed") {
    page.name = previous;
    status.failed(`${name}: ${answer.error}`);
  }
  $("file-name").textContent = page.name ?? "no file";
}

const sameOptions = (a, b) => JSON.stringify(a) === JSON.stringify(b);

async function relist() {
  if (page.name === null) return;
  if (page.busy) {
    page.relistAgain = true;
    return;
  }
  const wanted = flags.listOptions();
  if (sameOptions(wanted, page.listOptions)) return;
  status.working("Listing again…");
  const answer = await receiveListing("relist", { list: wanted, assemble: assembleOptions() });
  if (answer.kind === "refused") {
    flags.show(page.listOptions);
    status.refused(answer.messages);
    editor.showMessages(answer.messages);
  } else if (answer.kind === "failed") status.failed(answer.error);
}

function scheduleAssemble(delay) {
  clearTimeout(page.timer);
  if (page.name !== null) page.timer = setTimeout(assembleNow, delay);
}

// Assembles the editor's text; true when it assembled and is still current.
async function assembleNow() {
  clearTimeout(page.timer);
  const version = page.version;
  const answer = await worker.request("assemble", { assemble: assembleOptions() });
  if (version !== page.version) return false;
  if (answer.kind === "failed") {
    status.failed(answer.error);
    return false;
  }
  editor.showMessages(answer.messages);
  page.good = answer.ok ? { version, bytes: answer.bytes } : null;
  $("download").disabled = !answer.ok;
  status.assembled(answer.ok, answer.bytes?.length ?? 0, answer.messages, page.partial);
  if (answer.ok) showSong(answer.song, answer.index);
  return answer.ok;
}

async function download() {
  if (page.good?.version !== page.version && !(await assembleNow())) return;
  saveBytes(page.good.bytes, midiName(page.name, { partial: page.partial !== null }));
}

function showPlaying(on) {
  $("play").disabled = on || !roll.song || roll.song.notes.count === 0;
  $("stop").disabled = !on;
}

function play() {
  if (!roll.song) return;
  const from = roll.cursor && roll.cursor.tick < roll.song.endTick ? Math.max(roll.cursor.tick, 0) : 0;
  showPlaying(true);
  player.play(roll.song, from);
}

acceptFiles({
  button: $("open"), input: $("file-input"), dropTarget: document.body, onFile: openFile,
  onMany: (count) => status.failed(`${count} files were dropped and none opened: drop one file at a time`),
});
$("demo").addEventListener("click", async () => {
  const response = await fetch(new URL("demo.mid", import.meta.url));
  openFile("demo.mid", await response.arrayBuffer());
});
$("download").addEventListener("click", download);
$("play").addEventListener("click", play);
$("stop").addEventListener("click", () => {
  player.stop();
  showPlaying(false);
});
$("roll").addEventListener("click", (event) => {
  if (!roll.song) return;
  roll.setCursor({ track: roll.cursor?.track ?? 0, tick: roll.tickAt(event.offsetX) });
});

// What the browser test and the benchmark look at.
window.smfasmPage = {
  longTasks,
  editorText: () => editor.text(),
  renderOffline: (seconds) => renderOffline(roll.song, seconds),
  state: () => ({
    name: page.name, listings: page.listings, listOptions: page.listOptions, busy: page.busy,
    assembled: page.good?.version === page.version,
  }),
  diagnostics: () => editor.diagnostics(),
};

status.working("Loading…");
setBusy(true);
worker.request("start").then((answer) => {
  setBusy(false);
  if (answer.kind !== "done") return status.failed(answer.error);
  document.body.dataset.ready = "true";
  performance.mark("page-ready");
  status.idle();
  editor.focus();
  openNext();
});
