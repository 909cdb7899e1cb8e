// Highlighting of the listing language: the line-oriented text that smfdis
// writes and smfasm reads. A stream tokenizer suffices because every line is
// self-describing; the only state carried across lines is a quoted text or
// hex dump that was folded with a backslash at the end of the line.
import { StreamLanguage, StringStream, HighlightStyle, syntaxHighlighting } from "@codemirror/language";
import { tags } from "@lezer/highlight";

const channelWords = new Set(["Note", "On", "Off", "PoPr", "PolyPr", "Par", "Param", "Pb", "PrCh", "ProgCh", "ChPr", "ChanPr"]);
const dumpWords = new Set(["SysEx", "Arb", "SeqSpec"]);
const metaWords = new Set([
  "Meta", "Tempo", "TimeSig", "KeySig", "SMPTE", "SeqNr", "TrkEnd", "SeqName", "TrkName", "Text", "Copyright",
  "InstrName", "Lyric", "Marker", "Cue", "Unrec",
]);

// Words that are values: key modes, the score form's MFile mark and the
// values of its track habits (end=on, order=first, running=none).
const atomWords = new Set(["major", "minor", "score", "on", "none", "all", "first", "last"]);

// Modes: "line" before the time column, "body" after it, "text" inside a
// quoted string, "hex" inside a hex dump.
function startState() {
  return { mode: "line", folded: false };
}

function quotedText(stream, state) {
  if (stream.peek() === "\\") {
    stream.next();
    if (stream.eol()) {
      state.folded = true;
      return "meta";
    }
    if (stream.eat("x")) stream.match(/^[0-9a-fA-F]{0,2}/);
    else stream.next();
    return "escape";
  }
  if (stream.eat('"')) {
    state.mode = "body";
    return "string";
  }
  stream.match(/^[^"\\]+/);
  return "string";
}

function hexDump(stream, state) {
  if (stream.eat("\\")) {
    if (stream.eol()) state.folded = true;
    return "meta";
  }
  if (stream.match(/^[0-9a-fA-F]+/)) return "number";
  stream.next();
  return "invalid";
}

function lineStart(stream, state) {
  if (stream.match(/^#.*/)) return "comment";
  state.mode = "body";
  if (stream.match(/^(MFile|MTrk|TrkEnd)\b/)) return "heading";
  if (stream.match(/^-?\d+:-?\d+:-?\d+/) || stream.match(/^-?\d+/)) return "time";
  stream.match(/^\S+/);
  return "invalid";
}

function bodyWord(stream, state) {
  // A # behind a blank starts a comment to the end of the line.
  if (stream.match(/^#.*/)) return "comment";
  if (stream.match(/^[A-Za-z]+(?==)/)) return "propertyName";
  if (stream.eat("=") || stream.eat(",")) return "operator";
  if (stream.match(/^0x[0-9a-fA-F]+/)) {
    state.mode = "hex";
    return "number";
  }
  // Numbers, tempos in bpm and the score form's lengths (1/8, 1/4., 1/8t).
  if (stream.match(/^-?\d+(\.\d+)?bpm\b/) || stream.match(/^-?\d+(\/\d+[.t]?)?/)) return "number";
  if (stream.eat('"')) {
    state.mode = "text";
    return "string";
  }
  const word = stream.match(/^[A-Za-z][A-Za-z0-9#]*/);
  if (!word) {
    stream.next();
    return "invalid";
  }
  const text = word[0];
  if (channelWords.has(text)) return "keyword";
  if (dumpWords.has(text)) {
    state.mode = "hex";
    return "typeName";
  }
  if (metaWords.has(text)) return "typeName";
  if (atomWords.has(text) || /^[a-gA-G][#b]?\d+$/.test(text)) return "atom";
  return "invalid";
}

const listingParser = {
  name: "smf-listing",
  startState,
  copyState: (state) => ({ ...state }),
  token(stream, state) {
    if (stream.sol()) {
      // A folded line continues what the previous line left open.
      if (!state.folded) state.mode = "line";
      state.folded = false;
      if (stream.eat("\t")) return null;
    }
    if (state.mode === "text") return quotedText(stream, state);
    if (stream.eatSpace()) return null;
    if (state.mode === "line") return lineStart(stream, state);
    if (state.mode === "hex") return hexDump(stream, state);
    return bodyWord(stream, state);
  },
  tokenTable: { time: tags.labelName, invalid: tags.invalid },
};

export const listingLanguage = StreamLanguage.define(listingParser);

const listingStyle = HighlightStyle.define([
  { tag: tags.heading, color: "#7a2e8e", fontWeight: "bold" },
  { tag: tags.labelName, color: "#6b7280" },
  { tag: tags.keyword, color: "#1d4ed8", fontWeight: "600" },
  { tag: tags.typeName, color: "#b45309", fontWeight: "600" },
  { tag: tags.propertyName, color: "#64748b" },
  { tag: tags.operator, color: "#94a3b8" },
  { tag: tags.number, color: "#0f766e" },
  { tag: tags.atom, color: "#be185d" },
  { tag: tags.string, color: "#15803d" },
  { tag: tags.escape, color: "#b91c1c" },
  { tag: tags.meta, color: "#b91c1c", fontWeight: "bold" },
  { tag: tags.comment, color: "#94a3b8", fontStyle: "italic" },
  { tag: tags.invalid, color: "#dc2626", textDecoration: "underline wavy" },
]);

// The listing language with its colours, ready to hand to an editor.
export function listingHighlighting() {
  return [listingLanguage, syntaxHighlighting(listingStyle)];
}

// For tests: the token names of one line, the way the editor sees them.
export function tokenizeLines(lines) {
  const state = startState();
  return lines.map((line) => {
    const tokens = [];
    const stream = new StringStream(line, 4, 2);
    while (!stream.eol()) {
      const begin = stream.pos;
      stream.start = begin;
      const style = listingParser.token(stream, state);
      if (style) tokens.push([line.slice(begin, stream.pos), style]);
    }
    return tokens;
  });
}

