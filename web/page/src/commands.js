// The page's commands in one table: each with its key, its words in the
// help box and on its button, and what it does. The editing commands work
// on the score form's lines (score_edit.js); playing works in both forms.
import { deleteBars, insertBar, selectionSpan, setTempo, shift, tracksOf, transpose } from "./score_edit.js";

// How far a shift goes from the selection's start: the beat or the bar
// there, or the bar before it when going back.
function shiftTicks(view, tracks, from, to, unit, direction) {
  const span = selectionSpan(tracks, view, from, to);
  if (!span) return null;
  const own = view.song.format === 2 ? span.touched[0] : 0;
  const bar = view.barAt(direction < 0 ? Math.max(0, span.first - 1) : span.first, own);
  if (!bar || bar.ticksPerBeat === 0) return null;
  const ticks = unit === "beat" ? bar.ticksPerBeat : view.barNumbered(bar.number + 1, own).tick - bar.tick;
  return direction * ticks;
}

// edit(tracks, view, from, to) → { changes, select } or { error }.
const edits = {
  transpose: (semitones) => (tracks, view, from, to) => transpose(tracks, view, from, to, semitones),
  shift: (unit, direction) => (tracks, view, from, to) => {
    const ticks = shiftTicks(view, tracks, from, to, unit, direction);
    return ticks === null ? { error: "select lines with times in bars to move them" } : shift(tracks, view, from, to, ticks);
  },
};

export const COMMANDS = [
  { id: "up", key: "Alt-ArrowUp", label: "+1", help: "Transpose the selected notes up a semitone", edit: edits.transpose(1) },
  { id: "down", key: "Alt-ArrowDown", label: "−1", help: "Transpose the selected notes down a semitone", edit: edits.transpose(-1) },
  { id: "octave-up", key: "Alt-Shift-ArrowUp", label: "+8va", help: "Transpose the selected notes up an octave", edit: edits.transpose(12) },
  { id: "octave-down", key: "Alt-Shift-ArrowDown", label: "−8va", help: "Transpose the selected notes down an octave", edit: edits.transpose(-12) },
  { id: "later", key: "Alt-ArrowRight", label: "beat →", help: "Move the selection a beat later", edit: edits.shift("beat", 1) },
  { id: "earlier", key: "Alt-ArrowLeft", label: "← beat", help: "Move the selection a beat earlier", edit: edits.shift("beat", -1) },
  { id: "bar-later", key: "Alt-Shift-ArrowRight", label: "bar →", help: "Move the selection a bar later", edit: edits.shift("bar", 1) },
  { id: "bar-earlier", key: "Alt-Shift-ArrowLeft", label: "← bar", help: "Move the selection a bar earlier", edit: edits.shift("bar", -1) },
  { id: "delete-bars", key: "Alt-Shift-Backspace", label: "Delete bars", help: "Delete the bars the selection spans, in every track", edit: deleteBars },
  { id: "insert-bar", key: "Alt-Shift-b", label: "Insert bar", help: "Insert an empty bar before the cursor's bar", edit: (tracks, view, from) => insertBar(tracks, view, from) },
  { id: "tempo", key: "Alt-t", label: "Set tempo", help: "Set the tempo (the bpm box) at the selection; over a span, for the span only", tempo: true },
  { id: "play", key: "Alt-p", label: "▶ Play", help: "Play the selection, or from the cursor to the end", play: true },
  { id: "stop", key: "Escape", label: "■ Stop", help: "Stop playing at once", stop: true },
  { id: "help", key: "Alt-k", label: "Keys", help: "Show or hide this list of keys", toggleHelp: true },
];

// A command's edit of the editor's text and selection: { changes, select }
// for editor.replaceLines, or { error }.
export function planEdit(command, editor, view, bpm) {
  const { from, to } = editor.selectedLines();
  const tracks = tracksOf(editor.doc());
  return command.tempo ? setTempo(tracks, view, from, to, bpm) : command.edit(tracks, view, from, to);
}

// The same edit with the byte-habit marks (status=, endstatus=, endpos=)
// left off the lines it writes, or null when they have none. A mark says
// how an event's bytes stand to its neighbours'; moved among others it may
// no longer fit, and without it the track's habits decide.
export function withoutMarks(plan) {
  const mark = / (status|endstatus|endpos)=\d+(?= |$)/;
  if (!plan.changes.some((c) => c.lines.some((l) => mark.test(l)))) return null;
  const all = new RegExp(mark.source, "g");
  return { ...plan, changes: plan.changes.map((c) => ({ ...c, lines: c.lines.map((l) => l.replace(all, "")) })) };
}

// The selection's span in ticks, for playing: { first, last } or null.
export function playSpan(editor, view) {
  const { from, to, empty } = editor.selectedLines();
  if (empty) return null;
  return selectionSpan(tracksOf(editor.doc()), view, from, to);
}

const keyWords = (key) => key.replace(/-/g, "+").replace("ArrowUp", "↑").replace("ArrowDown", "↓")
  .replace("ArrowLeft", "←").replace("ArrowRight", "→");

// The help box: every command with its key.
export function fillHelp(list) {
  list.replaceChildren(...COMMANDS.map((c) => {
    const row = document.createElement("tr");
    const key = document.createElement("td");
    const kbd = document.createElement("kbd");
    kbd.textContent = keyWords(c.key);
    key.append(kbd);
    const what = document.createElement("td");
    what.textContent = c.help;
    row.append(key, what);
    return row;
  }));
}
