// The page: wires the controls, the editor, the piano roll, the problem
// panel, the commands and the synthesizer to the worker, which does all the
// listing and assembling. The text in the editor is the truth; the worker
// keeps a copy of it that every edit updates, and assembles it shortly
// after typing stops. What the roll and the synthesizer show comes from the
// core's reading of the bytes that text assembled to (song_data.js).
//
// The page is ready once the editor takes input and the core answers; the
// roll, the synthesizer, the problem panel and the commands come in just
// after (later.js).
import { ListingEditor } from "./editor.js";
import { FlagControls } from "./controls.js";
import { acceptFiles, midiName, saveBytes } from "./files.js";
import { Status } from "./status.js";
import "./boot.js";

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
  view: null, // SongView of the last text that assembled (or was listed)
  viewVersion: -1, // the editor's text it belongs to
  performance: null, // what the synthesizer plays, arranged from view
  good: null, // { version, bytes } of the last text that assembled
  warnings: 0, // how many warnings the last assembled text had
  // { problem, size } when the opened MIDI file did not list completely:
  // its text, however edited, stands for part of the file only.
  partial: null,
  timer: 0,
  busy: false,
  relistAgain: false, // the flags changed while a listing was on its way
  next: null, // { name, bytes } of the newest file opened while the page was busy
  listings: 0,
};

// The worker, already asked whether the core has loaded (boot.js).
const { client: worker, started } = globalThis.smfasmBoot;
// later.js and what the page makes of it, once it is in (startLater).
let later = null;
let roll = null;
let player = null;
let problems = null;
let byId = null;
const status = new Status($("status"));
const flags = new FlagControls($("flags"), { onListChange: relist, onAssembleChange: () => scheduleAssemble(0) });
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

// The editor's line in the roll: its time as a cursor, and its note, when
// it begins one, outlined (only while the roll shows this very text).
function showCursor(line) {
  if (!roll) return;
  if (!page.view) return roll.setCursor(null);
  // A folded continuation line belongs to the line it continues.
  let n = line;
  while (n > 1 && editor.lineText(n).startsWith("\t")) n--;
  const note = page.viewVersion === page.version ? page.view.noteOfLine(n) : -1;
  roll.setCursor(page.view.lineTime(n, editor.lineText(n)), note);
}

function showSong(song, lines, { fit = false } = {}) {
  if (song) {
    page.view = new later.SongView(song, lines);
    page.viewVersion = page.version;
    page.performance = null;
    roll.names = page.view.score || page.listOptions?.noteNames === true;
    roll.measuresNote = !page.view.score && page.listOptions?.measures === true;
    roll.setSong(page.view, { fit });
  }
  showPlaying(player.playing !== null);
  showCursor(editor.cursorLine());
}

// The lines the assembler spoke of, placed in the roll as far as the last
// song allows: a key past the keyboard is drawn at the top edge.
function showProblems(messages) {
  const view = page.view;
  const marks = [];
  if (view) {
    for (const m of messages) {
      if (m.line < 1 || m.line > editor.lineCount()) continue;
      const text = editor.lineText(m.line);
      const time = view.lineTime(m.line, text);
      if (!time) continue;
      const key = / (?:n|note)=([^ ]+)/.exec(text);
      marks.push({ tick: time.tick, key: key ? later.keyNumber(key[1], view.song.noteNames) : null, severity: m.severity });
    }
  }
  roll.setProblems(marks);
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
    page.view = null;
    problems.setMessages([]);
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
  status.listed(page.name, editor.lineCount());
  problems.setListerText(answer.messages);
  showSong(answer.song, answer.lines, { fit: op === "open" });
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
  if (!later) {
    status.working(`${name} opens as soon as the page has loaded…`);
    await laterLoaded;
  }
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
    const { messages } = later.pageMessages(answer.messages);
    status.refused(messages);
    editor.showMessages(messages);
    problems.setMessages(messages);
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
  // A data value above 127 is an error here in both forms (problems.js).
  const { messages, ok } = later.pageMessages(answer.messages);
  editor.showMessages(messages);
  problems.setMessages(messages);
  page.good = ok ? { version, bytes: answer.bytes } : null;
  page.warnings = messages.filter((m) => m.severity === "warning").length;
  showDownload(ok);
  status.assembled(ok, answer.bytes?.length ?? 0, messages, page.partial);
  // Without a song the text was the file's own, whose song the page has.
  if (ok && answer.song) showSong(answer.song, answer.lines);
  else if (ok && page.view) page.viewVersion = version;
  showProblems(messages);
  return ok;
}

// Download is offered only for a text without errors, and names the
// warnings of one that has them.
function showDownload(ok) {
  const button = $("download");
  const warnings = page.warnings;
  button.disabled = !ok;
  button.textContent = `Download ${page.partial ? "partial " : ""}MIDI${ok && warnings ? ` (${warnings} warning${warnings === 1 ? "" : "s"})` : ""}`;
  button.title = !ok ? "The listing has errors: fix them first (see the list under the editor)"
    : warnings ? "Save the assembled MIDI file: the listing has warnings, see the list under the editor"
      : page.partial ? "The file did not list completely: save what was listed, as a file of its own"
        : "Save the assembled MIDI file";
}

async function download() {
  if (page.good?.version !== page.version && !(await assembleNow())) return;
  saveBytes(page.good.bytes, midiName(page.name, { partial: page.partial !== null }));
}

function showPlaying(on) {
  $("play").disabled = on || !page.view || page.view.count === 0;
  $("stop").disabled = !on;
}

function songPerformance() {
  page.performance ??= later.arrangeSong(page.view);
  return page.performance;
}

// Plays the selection's span, or from the cursor's line to the end.
function play() {
  if (!page.view || page.view.count === 0) return;
  const song = songPerformance();
  const span = page.viewVersion === page.version ? later.playSpan(editor, page.view) : null;
  const cursor = roll.cursor && roll.cursor.tick < song.endTick ? Math.max(roll.cursor.tick, 0) : 0;
  showPlaying(true);
  if (span) player.play(song, span.first, Math.max(span.last, span.first + 1));
  else player.play(song, cursor);
}

function stop() {
  player.stop();
  showPlaying(false);
}

// Escape: closes the key list, or stops playing; false when neither is open.
function stopKey() {
  if (!$("help").hidden) {
    $("help").hidden = true;
    return true;
  }
  if (!player.playing && $("stop").disabled) return false;
  stop();
  return true;
}

// The editor's text has assembled, and the song the page has is its own.
function current() {
  return page.good?.version === page.version && page.viewVersion === page.version;
}

// A command from its key, its button or the help box. The editing ones
// need the score form and a text that assembled, so that every time and
// note they touch is read as the core read it.
async function command(c) {
  if (c.toggleHelp) {
    $("help").hidden = !$("help").hidden;
    return true;
  }
  if (c.stop) return stopKey();
  if (c.play) {
    play();
    return true;
  }
  const refuse = (reason) => {
    status.failed(reason);
    return true;
  };
  if (!page.view) return refuse("Open a file first");
  if (!page.view.score) return refuse("The editing commands work in the score form: tick its box above");
  if (!current() && !(await assembleNow())) return refuse("The listing has errors: fix them before a command edits it");
  // Typing while it assembled makes it stale again: the next key press will do.
  if (!current()) return refuse("The listing changed while it assembled: try again");
  let plan = later.planEdit(c, editor, page.view, Number($("bpm").value));
  if (plan.error) return refuse(`${c.help}: ${plan.error}`);
  // The edit is tried on the worker's copy first: it is taken only if it
  // assembles with no error and no warning the text did not have already.
  const version = page.version;
  status.working(`${c.help}…`);
  let problem = await trial(plan);
  const plain = problem && later.withoutMarks(plan);
  if (plain && !(await trial(plain))) {
    plan = plain;
    problem = null;
  }
  if (version !== page.version) return refuse("The listing changed meanwhile: try again");
  if (problem) return refuse(`${c.help}: refused, as it would give ${problem}`);
  editor.replaceLines(plan.changes, plan.select ?? null);
  return true;
}

// What an edit would make worse, in words, or null when nothing.
async function trial(plan) {
  const answer = await worker.request("tryEdit", { changes: editor.mirrorOf(plan.changes), assemble: assembleOptions() });
  if (answer.kind !== "done") return answer.error ?? "an error";
  const { messages } = later.pageMessages(answer.messages);
  const error = messages.find((m) => m.severity === "error");
  if (error) return `line ${error.line}: ${error.message}`;
  const warnings = messages.filter((m) => m.severity === "warning");
  return warnings.length > page.warnings ? `a warning: line ${warnings.at(-1).line}: ${warnings.at(-1).message}` : null;
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
$("stop").addEventListener("click", stop);

// Makes the parts of the page that came in after it was ready, and hands
// them their keys, buttons and input.
function startLater(parts) {
  later = parts;
  roll = new later.PianoRoll($("roll"), $("legend"));
  player = new later.Player({ onPosition: (tick) => roll.setPlayhead(tick), onEnd: () => showPlaying(false) });
  problems = new later.ProblemPanel($("problems"), { onPick: (line, column) => editor.goTo(line, column) });
  byId = new Map(later.COMMANDS.map((c) => [c.id, c]));
  // Escape stays the editor's (closing search) unless there is something to stop.
  editor.setKeys(later.COMMANDS.map((c) => ({ key: c.key, run: () => (c.stop ? stopKey() : (command(c), true)) })));
  // A command from a button hands the keys back to the editor, where the
  // selection it worked on still is.
  for (const button of document.querySelectorAll("button[data-command]")) {
    button.addEventListener("click", async () => {
      await command(byId.get(button.dataset.command));
      if (button.dataset.command !== "help") editor.focus();
    });
  }
  $("bpm").addEventListener("keydown", async (event) => {
    if (event.key !== "Enter") return;
    event.preventDefault();
    await command(byId.get("tempo"));
    editor.focus();
  });
  later.fillHelp($("help-keys"));
  later.attachRollInput(roll, {
    container: $("roll"),
    buttons: $("roll-buttons"),
    // A note clicked: its line selected in the editor, when the roll shows this text.
    onNote(note) {
      const line = page.view.noteLine(note);
      if (line > 0 && page.viewVersion === page.version) editor.selectLine(line);
      else roll.setCursor(roll.cursor, note);
    },
    onTick: (tick) => roll.setCursor({ track: roll.cursor?.track ?? 0, tick }),
  });
  showCursor(editor.cursorLine());
}

// Resolves once the later parts are in and made; a file opened before
// then waits for it. Should they fail to load, nothing can open, and the
// status line says why.
let loadLater;
const laterLoaded = new Promise((resolve) => {
  loadLater = () => import("./later.js").then((parts) => {
    startLater(parts);
    resolve();
  }, (error) => status.failed(`the page did not load completely (${error.message}): reload it`));
});

// What the browser test and the benchmark look at.
window.smfasmPage = {
  longTasks,
  editorText: () => editor.text(),
  renderOffline: (seconds) => later.renderOffline(songPerformance(), seconds),
  roll: () => ({
    tick0: roll.tick0, ticksPerPixel: roll.ticksPerPixel, keyTop: roll.keyTop, rowPixels: roll.rowPixels,
    selected: roll.selected, cursor: roll.cursor, playhead: roll.playhead, problems: roll.problems,
    hanging: page.view?.hangingCount ?? 0, notes: page.view?.count ?? 0, keyLabels: roll.keyLabels, barLabels: roll.barLabels,
  }),
  // The screen position (CSS pixels in the roll) of a note's middle, found by its line.
  notePoint: (line) => {
    const note = page.view?.noteOfLine(line) ?? -1;
    if (note < 0) return null;
    const n = page.view.song.notes;
    const x = 36 + ((n.start[note] + Math.min(page.view.end[note] - n.start[note], roll.width() * roll.ticksPerPixel) / 2) - roll.tick0) / roll.ticksPerPixel;
    const y = 20 + (roll.keyTop - n.key[note] - 0.5) * roll.rowPixels;
    return { x, y };
  },
  playing: () => (player?.playing ?? null) !== null,
  select: (first, last) => editor.selectLine(first, last),
  cursor: () => editor.cursor(),
  state: () => ({
    name: page.name, listings: page.listings, listOptions: page.listOptions, busy: page.busy,
    assembled: current(),
  }),
  diagnostics: () => editor.diagnostics(),
};

status.working("Loading…");
setBusy(true);
started.then((answer) => {
  setBusy(false);
  if (answer.kind === "done") {
    document.body.dataset.ready = "true";
    performance.mark("page-ready");
    status.idle();
    editor.focus();
  } else status.failed(answer.error);
  loadLater();
  openNext();
});
