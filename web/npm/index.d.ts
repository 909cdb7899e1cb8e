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
  /** What smfdis would say about the file, such as "Error: premature EOF\n". */
  messages: string;
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

export interface AssembleMessage {
  severity: "error" | "warning";
  /** 1-based listing line; 0 when the message is about the whole listing. */
  line: number;
  /**
   * 1-based column as JavaScript counts it (UTF-16 code units, so that
   * text.split("\n")[line - 1][column - 1] is the character at fault); 0
   * when none. The formatted `text` counts bytes, as smfasm does.
   */
  column: number;
  /** The message alone, without name, line or column. */
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
 * Loads the WebAssembly module; list() and assemble() do so on their first
 * call. By default the module is smfasm-core.wasm beside this file, read
 * with fs in Node and fetched in browsers and workers.
 */
export function init(options?: { wasmBinary?: ArrayBuffer | Uint8Array; wasmUrl?: string | URL }): Promise<void>;

/** Lists a Standard MIDI File as smfdis does. */
export function list(bytes: Uint8Array, options?: ListOptions): Promise<ListResult>;

/** Assembles listing text into a Standard MIDI File as smfasm does. */
export function assemble(text: string, options?: AssembleOptions): Promise<AssembleResult>;
