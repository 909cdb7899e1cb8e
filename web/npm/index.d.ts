// smfasm in JavaScript: a Standard MIDI File to its text listing and back.

/** The lister's flags. */
export interface ListOptions {
  /** Time column as measure:beat:tick (-b). */
  measures?: boolean;
  /** Note names such as c5 instead of numbers (-n). */
  noteNames?: boolean;
  /** Long line formats: note=, vol=, ProgCh, ... (-v). */
  long?: boolean;
  /** Fold quoted text and hex dumps at this column (-fN); undefined or 0 never folds. */
  foldWidth?: number;
  /** Keep system-exclusive packets apart instead of joining them (-m). */
  packets?: boolean;
  /**
   * The score form (smfcat --score): notes with their lengths at bar:beat:tick,
   * which assemble() reads back byte for byte; measures and noteNames then
   * change nothing.
   */
  score?: boolean;
}

export interface ListResult {
  /** The listing, byte for byte as smfdis writes it; as far as it got when not ok. */
  text: string;
  /**
   * What smfdis would say about the file, such as "Error: premature EOF\n",
   * as one string: kept as it was for the callers that read it. New code
   * reads `diagnostics`.
   */
  messages: string;
  /**
   * The same messages as data, each about the whole file (line and column
   * 0): { line: 0, column: 0, severity: "error", text: "premature EOF" }.
   * An error stopped the listing; the one warning is that the file is empty.
   */
  diagnostics: Message[];
  /** True when the whole file listed. */
  ok: boolean;
}

export interface ListBytesResult {
  /**
   * The listing as bytes (ASCII, so also UTF-8), byte for byte as smfdis
   * writes it: `new TextDecoder().decode(bytes)` is list()'s text. A view:
   * its buffer may run on past the listing.
   */
  bytes: Uint8Array;
  /** As in ListResult. */
  messages: string;
  /** As in ListResult. */
  diagnostics: Message[];
  /** True when the whole file listed. */
  ok: boolean;
}

/** The assembler's options. */
export interface AssembleOptions {
  /** The listing was made with packets (-m): every SysEx and Arb line is one packet. */
  packets?: boolean;
  /** Omit a channel event's status byte when it repeats the one before (default true). */
  runningStatus?: boolean;
  /** Every warning is an error. */
  strict?: boolean;
  /** The listing's name in the messages (default "listing"). */
  name?: string;
}

export interface AssembleMessage extends Message {
  /**
   * 1-based column as JavaScript counts it (UTF-16 code units, so that
   * text.split("\n")[line - 1][column - 1] is the character at fault; for a
   * listing given as bytes, counted in its line decoded as UTF-8); 0 when
   * none. The formatted `text` of the result counts bytes, as smfasm does.
   */
  column: number;
  /** The same as `text`, kept for the callers that read it. */
  message: string;
}

interface AssembleReport {
  messages: AssembleMessage[];
  /**
   * The messages as smfasm prints them: "NAME:LINE:COLUMN: message", the
   * line and a caret; after any error, smfasm's closing line
   * ("NAME: 1 error; no MIDI file written").
   */
  text: string;
}

/**
 * The listing assembled without error (warnings allowed unless strict) and
 * `bytes` is the MIDI file; or it did not, and there is no file. Checking
 * `ok` tells TypeScript which.
 */
export type AssembleResult =
  | (AssembleReport & { ok: true; bytes: Uint8Array })
  | (AssembleReport & { ok: false; bytes: null });

/**
 * One message about a conversion, the same shape for every call. `line` and
 * `column` are 1-based, 0 when the message is about the whole input (always
 * so for a MIDI file, which has no lines).
 */
export interface Message {
  line: number;
  column: number;
  severity: "error" | "warning";
  /** The message alone, without name, line or column. */
  text: string;
}

/** Notes with their ends, one entry per index across the arrays. */
export interface SongNotes {
  /** The track chunk, from 0. */
  track: Uint16Array;
  /** 0 to 15. */
  channel: Uint8Array;
  key: Uint8Array;
  velocity: Uint8Array;
  /** Tick from the track's start. */
  start: Float64Array;
  /** Ticks to the note's end; -1 for a note that never ends. */
  length: Float64Array;
}

/** What a player or a piano roll needs of a MIDI file, as typed arrays of its own. */
export interface SongData {
  /**
   * False when the file could not be read whole (damaged, cut short, or no
   * MIDI file): `messages` says why and every array is empty. A file whose
   * bytes the score form could not give back exactly (a padded delta time,
   * bytes after the last track) is refused too, though list() lists it.
   */
  ok: boolean;
  /** Why not ok; or a warning, such as bars given only up to a limit. */
  messages: Message[];
  format: number;
  /** Ticks per quarter note; 0 when the file is timed in SMPTE frames. */
  division: number;
  /** Track chunks found. */
  tracks: number;
  /** The tick of the last track end. */
  endTick: number;
  /** The names of keys 0 to 127 as the listings write them ("c5" is 60, "c#5" 61), indexed by key. */
  noteNames: readonly string[];
  /** In file order of their starts, track by track. Pairs as the score form does: first in, first out per channel and key. */
  notes: SongNotes;
  /** Note ends with nothing sounding to end. */
  unpairedOffs: { track: Uint16Array; channel: Uint8Array; key: Uint8Array; tick: Float64Array };
  /** Program changes, in file order. */
  programs: { track: Uint16Array; channel: Uint8Array; tick: Float64Array; program: Uint8Array };
  /** Tempo events: the first track's in formats 0 and 1, every track's (in file order) in format 2. */
  tempos: { tick: Float64Array; microsPerQuarter: Uint32Array };
  /**
   * Every bar start up to and including endTick, from the metre map the
   * score listing uses, so that `number` is the bar of its bar:beat:tick.
   * One map for formats 0 and 1 (track 0), one per track in format 2; empty
   * when division is 0. Where a metre's beat is shorter than a tick (the
   * listing writes plain ticks there) a bar has ticksPerBeat 0 and lasts to
   * the next time signature. A denominator past 65535 is 0. At most 2^20
   * bars, with a warning past that.
   */
  bars: {
    /** 0 in formats 0 and 1; the track in format 2. */
    track: Uint16Array;
    /** From 1. */
    number: Uint32Array;
    /** The bar's start. */
    tick: Float64Array;
    numerator: Uint8Array;
    denominator: Uint16Array;
    ticksPerBeat: Uint32Array;
  };
}

/**
 * Loads the WebAssembly module; list() and assemble() do so on their first
 * call. By default the module is smfasm-core.wasm beside this file, read
 * with fs in Node and fetched in browsers and workers.
 */
export function init(options?: { wasmBinary?: ArrayBuffer | Uint8Array; wasmUrl?: string | URL }): Promise<void>;

/** Lists a Standard MIDI File as smfdis does. */
export function list(bytes: Uint8Array, options?: ListOptions): Promise<ListResult>;

/**
 * Lists a Standard MIDI File as list() does, the listing given as bytes: no
 * string is made, which for a large file is most of the time list() takes.
 */
export function listBytes(bytes: Uint8Array, options?: ListOptions): Promise<ListBytesResult>;

/**
 * The notes, tempo map and metre map of a Standard MIDI File, read by the
 * same core as the score listing.
 */
export function song(bytes: Uint8Array): Promise<SongData>;

/**
 * Assembles a listing into a Standard MIDI File as smfasm does: text, or
 * the listing's bytes as a file or listBytes() holds them (read as they
 * stand, as smfasm reads a file, with no string made).
 */
export function assemble(listing: string | Uint8Array, options?: AssembleOptions): Promise<AssembleResult>;
