// The listing editor: CodeMirror with line numbers, search, the listing
// language's colours and lint marks. Big listings arrive in pieces and are
// appended one piece per task, so that no single task holds the page.
import { EditorState, Compartment, Annotation } from "@codemirror/state";
import {
  EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter, drawSelection,
  highlightSpecialChars,
} from "@codemirror/view";
import { defaultKeymap, history, historyKeymap } from "@codemirror/commands";
import { search, searchKeymap, highlightSelectionMatches } from "@codemirror/search";
import { setDiagnostics, forEachDiagnostic, lintGutter, lintKeymap } from "@codemirror/lint";
import { listingHighlighting } from "./listing_language.js";
import { mirrorChanges } from "./text_mirror.js";

// Marks the transactions that load text, as opposed to the user's edits.
const loading = Annotation.define();

export class ListingEditor {
  constructor(parent, { onEdit, onCursorLine }) {
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
}
