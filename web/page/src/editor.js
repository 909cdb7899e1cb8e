// The listing editor: CodeMirror with line numbers, search, the listing
// language's colours and lint marks. Big listings arrive in pieces and are
// appended one piece per task, so that no single task holds the page.
import { EditorState, EditorSelection, Compartment, Annotation, Prec } from "@codemirror/state";
import {
  EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter, drawSelection,
  highlightSpecialChars,
} from "@codemirror/view";
import { defaultKeymap, history, historyKeymap, isolateHistory } from "@codemirror/commands";
import { search, searchKeymap, highlightSelectionMatches } from "@codemirror/search";
import { setDiagnostics, forEachDiagnostic, lintGutter, lintKeymap } from "@codemirror/lint";
import { listingHighlighting } from "./listing_language.js";
import { mirrorChanges } from "./text_mirror.js";

// Marks the transactions that load text, as opposed to the user's edits.
const loading = Annotation.define();

export class ListingEditor {
  // keys: key bindings that come before the editor's own (setKeys).
  constructor(parent, { onEdit, onCursorLine, keys = [] }) {
    this.keys = keys;
    this.keyBindings = new Compartment();
    this.readOnly = new Compartment();
    this.onEdit = onEdit;
    this.onCursorLine = onCursorLine;
    this.lastCursorLine = 0;
    this.view = new EditorView({ parent, state: this.#newState("") });
  }

  #newState(doc) {
    return EditorState.create({
      doc,
      extensions: [
        lineNumbers(),
        highlightActiveLineGutter(),
        highlightSpecialChars(),
        history(),
        drawSelection(),
        highlightActiveLine(),
        highlightSelectionMatches(),
        search({ top: true }),
        lintGutter(),
        listingHighlighting(),
        this.readOnly.of(EditorState.readOnly.of(false)),
        this.keyBindings.of(Prec.high(keymap.of(this.keys))),
        keymap.of([...defaultKeymap, ...historyKeymap, ...searchKeymap, ...lintKeymap]),
        EditorView.updateListener.of((update) => this.#updated(update)),
        EditorView.contentAttributes.of({ "aria-label": "MIDI listing", spellcheck: "false" }),
      ],
    });
  }

  #updated(update) {
    if (update.transactions.every((tr) => tr.annotation(loading))) return;
    for (const tr of update.transactions) {
      if (!tr.docChanged || tr.annotation(loading)) continue;
      this.onEdit(mirrorChanges(tr.changes));
    }
    if (update.selectionSet || update.docChanged) {
      const line = this.cursorLine();
      if (line !== this.lastCursorLine || update.docChanged) {
        this.lastCursorLine = line;
        this.onCursorLine(line);
      }
    }
  }

  // Starts a new document: history, marks and cursor start afresh. The
  // editor stays read-only until finishLoading, so that no edit lands in
  // a half-loaded text.
  startLoading() {
    this.view.setState(this.#newState(""));
    this.setReadOnly(true);
  }

  // The page's own keys come in after the editor is made (main.js).
  setKeys(keys) {
    this.keys = keys;
    this.view.dispatch({ effects: this.keyBindings.reconfigure(Prec.high(keymap.of(keys))) });
  }

  setReadOnly(on) {
    this.view.dispatch({ effects: this.readOnly.reconfigure(EditorState.readOnly.of(on)) });
  }

  appendPiece(text) {
    const end = this.view.state.doc.length;
    this.view.dispatch({ changes: { from: end, insert: text }, annotations: loading.of(true) });
  }

  finishLoading() {
    this.setReadOnly(false);
    this.lastCursorLine = 1;
    this.onCursorLine(1);
  }

  text() {
    return this.view.state.doc.toString();
  }

  // The cursor's line and column, 1-based.
  cursor() {
    const state = this.view.state;
    const line = state.doc.lineAt(state.selection.main.head);
    return { line: line.number, column: state.selection.main.head - line.from + 1 };
  }

  cursorLine() {
    const state = this.view.state;
    return state.doc.lineAt(state.selection.main.head).number;
  }

  lineCount() {
    return this.view.state.doc.lines;
  }

  // The text of line n (1-based), or "" past the end.
  lineText(n) {
    const doc = this.view.state.doc;
    return n >= 1 && n <= doc.lines ? doc.line(n).text : "";
  }

  // Shows the assembler's messages as marks. A message without a line
  // (line 0) concerns the whole listing and is put on its first line.
  showMessages(messages) {
    const doc = this.view.state.doc;
    const diagnostics = messages.map((m) => {
      const line = doc.line(Math.min(Math.max(m.line, 1), doc.lines));
      const from = m.line >= 1 ? Math.min(line.from + Math.max(m.column, 1) - 1, line.to) : line.from;
      const to = m.line >= 1 ? Math.min(from + 1, line.to) : line.to;
      return { from, to, severity: m.severity, message: m.message, source: "smfasm" };
    });
    this.view.dispatch(setDiagnostics(this.view.state, diagnostics));
  }

  // The marks as they stand: line and column (1-based), severity, message.
  diagnostics() {
    const found = [];
    const doc = this.view.state.doc;
    forEachDiagnostic(this.view.state, (d, from) => {
      const line = doc.lineAt(from);
      found.push({ line: line.number, column: from - line.from + 1, severity: d.severity, message: d.message });
    });
    return found;
  }

  focus() {
    this.view.focus();
  }

  // The selection's first and last line; a selection that ends at the
  // start of a line leaves that line out.
  selectedLines() {
    const { doc, selection } = this.view.state;
    const { from, to } = selection.main;
    const first = doc.lineAt(from).number;
    let last = doc.lineAt(to).number;
    if (to > from && doc.line(last).from === to && last > first) last--;
    return { from: first, to: last, empty: from === to };
  }

  // Puts the cursor at a line and column (1-based) and shows it.
  goTo(line, column = 1) {
    const doc = this.view.state.doc;
    const target = doc.line(Math.min(Math.max(line, 1), doc.lines));
    const at = Math.min(target.from + column - 1, target.to);
    this.view.dispatch({ selection: { anchor: at }, scrollIntoView: true });
    this.view.focus();
  }

  // Selects whole lines and shows them, without taking the focus.
  selectLine(line, last = line) {
    const doc = this.view.state.doc;
    this.view.dispatch({ selection: EditorSelection.range(doc.line(line).from, doc.line(last).to), scrollIntoView: true });
  }

  // Replaces runs of lines ({ from, to, lines }, 1-based and inclusive, to
  // below from for an insertion before from), as one step of undo.
  // select: { from, to } lines to select afterwards, in the new text.
  replaceLines(runs, select = null) {
    const doc = this.view.state.doc;
    const first = Math.min(...runs.map((r) => r.from));
    const set = this.#changeSet(runs);
    const after = set.apply(doc);
    const line = (n) => after.line(Math.min(Math.max(n, 1), after.lines));
    const selection = select ? EditorSelection.range(line(select.from).from, line(select.to).to)
      : EditorSelection.cursor(line(first).from);
    this.view.dispatch({
      changes: set, annotations: isolateHistory.of("full"), userEvent: "input.command", selection, scrollIntoView: true,
    });
  }

  #changeSet(runs) {
    const doc = this.view.state.doc;
    return this.view.state.changes(runs.map(({ from, to, lines }) => {
      if (to < from) return { from: doc.line(from).from, insert: lines.map((l) => `${l}\n`).join("") };
      if (lines.length > 0) return { from: doc.line(from).from, to: doc.line(to).to, insert: lines.join("\n") };
      const end = to < doc.lines ? doc.line(to + 1).from : doc.line(to).to;
      return { from: doc.line(from).from, to: end };
    }));
  }

  // The runs replaceLines takes, as changes for the worker's copy of the text.
  mirrorOf(runs) {
    return mirrorChanges(this.#changeSet(runs));
  }

  // What the editing commands read: the lines by number, as they stand.
  doc() {
    const doc = this.view.state.doc;
    return { lineCount: doc.lines, lineText: (n) => doc.line(n).text };
  }
}
