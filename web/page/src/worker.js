// The page's worker: it owns the WebAssembly core, the opened file and a
// copy of the editor's text, so that listing, assembling and reading the
// notes of a file of any size never hold the page. Requests are handled one
// at a time, in the order they came; see worker_client.js for the other side.
import { init, list, listBytes, assemble } from "smfasm";
import { readSongData, songTransfer } from "./song_data.js";
import { listingLines, linesOf } from "./listing_lines.js";
import { applyChanges } from "./text_mirror.js";

// Pieces of a listing sent to the page: small enough that the editor takes
// one in a few milliseconds.
const PIECE = 1 << 20;
const encoder = new TextEncoder();
const decoder = new TextDecoder();

const file = {
  source: null, // the MIDI bytes the text was listed from; null once edited
  text: "",
};

function reply(id, message, transfer = []) {
  self.postMessage({ id, ...message }, transfer);
}

// Sends a listing's UTF-8 bytes in pieces that end at line ends, then a
// closing message. Each piece travels as bytes handed over, not as a
// string: a string is copied in on the page's thread as the message
// arrives, which for a single line of 30 MB (one long system-exclusive
// message) held the page longer than decoding the bytes there does.
function sendBytes(id, bytes, closing) {
  for (let at = 0; at < bytes.length;) {
    let end = Math.min(at + PIECE, bytes.length);
    if (end < bytes.length) {
      const lineEnd = bytes.indexOf(0x0a, end);
      end = lineEnd < 0 ? bytes.length : lineEnd + 1;
    }
    const piece = bytes.slice(at, end);
    reply(id, { kind: "piece", bytes: piece }, [piece.buffer]);
    at = end;
  }
  reply(id, { kind: "done", ...closing }, transferOf(closing));
}

// The buffers of a reply's song and lines, handed over rather than copied.
function transferOf({ song, lines }) {
  const transfer = song ? songTransfer(song) : [];
  if (lines) transfer.push(lines.noteLines.buffer, ...(lines.lineTicks ? [lines.lineTicks.buffer] : []));
  return transfer;
}

function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

function looksLikeMidi(bytes) {
  return bytes.length >= 4 && bytes[0] === 0x4d && bytes[1] === 0x54 && bytes[2] === 0x68 && bytes[3] === 0x64;
}

async function listSource(id, options) {
  const result = await listBytes(file.source, options);
  // The listing is ASCII: decoding it is one quick pass.
  file.text = decoder.decode(result.bytes);
  sendBytes(id, result.bytes, {
    messages: result.messages, complete: result.ok, size: file.source.length, song: await readSongData(file.source),
    lines: await linesOf(file.text, (again) => list(file.source, again), options.packets),
  });
}

// The worker holds the file and the core, so it must run under the page's
// content security policy (start_worker.js), which refuses to evaluate
// strings. Should a browser not pass the policy on, evaluating works here,
// and the worker refuses every request rather than run unguarded. (The test
// leaves one notice of a refused evaluation in the console.)
const guarded = (() => {
  try {
    new Function("")();
    return false;
  } catch {
    return true;
  }
})();

// The core starts loading at once, from the bytes the worker's first lines
// fetched meanwhile (start_worker.js) when they have them; the page's first
// request waits for it. Without those bytes (a worker started some other
// way, or a fetch that failed) it loads from its URL, which says why it
// fails if it does. Should it fail, each conversion tries again by itself.
const start = self.smfasmStart ?? { requests: [], wasm: Promise.resolve(null) };
const loaded = start.wasm.then((bytes) => init(bytes ? { wasmBinary: bytes } : { wasmUrl: new URL("smfasm-core.wasm", import.meta.url) }));

const handlers = {
  async start() {
    await loaded;
    return {};
  },

  // A MIDI file is listed; anything else is taken as a listing.
  async open(id, { bytes, list: options }) {
    const data = new Uint8Array(bytes);
    if (looksLikeMidi(data)) {
      file.source = data;
      return listSource(id, options);
    }
    // A listing is text; anything that is not UTF-8 would change on the way
    // into the editor, so it is refused. The editor keeps lines with LF
    // alone; the copy here must match it.
    let text;
    try {
      text = new TextDecoder("utf-8", { fatal: true }).decode(data);
    } catch {
      throw new Error("this is neither a MIDI file (no MThd) nor a listing in UTF-8 text");
    }
    file.source = null;
    file.text = text.replace(/\r\n?/g, "\n");
    sendBytes(id, encoder.encode(file.text), { messages: "", song: null, lines: listingLines(file.text) });
  },

  // An edit the page thinks of making, assembled on a copy: its messages.
  async tryEdit(_id, { changes, assemble: options }) {
    return { messages: (await assemble(applyChanges(file.text, changes), options)).messages };
  },

  edit(_id, { changes }) {
    file.text = applyChanges(file.text, changes);
    file.source = null;
  },

  // The same music under other listing flags. An edited text is assembled
  // first, under the flags it was written with, so that nothing typed is
  // lost; when it does not assemble, nothing changes.
  async relist(id, { list: options, assemble: assembleOptions }) {
    if (!file.source) {
      const result = await assemble(file.text, assembleOptions);
      if (!result.ok) return reply(id, { kind: "refused", messages: result.messages });
      file.source = result.bytes;
    }
    return listSource(id, options);
  },

  async assemble(id, { assemble: options }) {
    const result = await assemble(file.text, options);
    if (!result.ok) return reply(id, { kind: "assembled", ok: false, messages: result.messages });
    // The package's bytes are a copy of the worker's own: handed over as they are.
    const { bytes, messages } = result;
    // Unedited text that gives the file back: the page has its song already.
    if (file.source && sameBytes(file.source, bytes)) {
      return reply(id, { kind: "assembled", ok: true, messages, bytes, song: null }, [bytes.buffer]);
    }
    const song = await readSongData(bytes);
    const lines = await linesOf(file.text, (again) => list(bytes, again), options.packets);
    return reply(id, { kind: "assembled", ok: true, messages, bytes, song, lines }, [bytes.buffer, ...transferOf({ song, lines })]);
  },
};

let queue = Promise.resolve();
function receive(data) {
  queue = queue.then(async () => {
    try {
      if (!guarded) throw new Error("the worker runs without the page's content security policy, so it does nothing");
      const answer = await handlers[data.op](data.id, data);
      if (answer) reply(data.id, { kind: "done", ...answer });
    } catch (error) {
      reply(data.id, { kind: "failed", error: String(error?.message ?? error) });
    }
  });
}
self.onmessage = ({ data }) => receive(data);
start.requests.splice(0).forEach(receive);
