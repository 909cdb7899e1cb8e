// The piano roll: the song's notes as bars in their track's colour, a
// pitch axis named as the listing names notes, bar numbers from the core's
// metre map, the editor's line as a cursor, its note outlined, and the
// playing position as a playhead that the view follows. Zoom and scroll
// work on both axes (see roll_input.js). Notes are rasterised straight into
// pixels, not drawn one call each: a dense file has millions of them. A
// note that never ends is drawn striped to the end of the song, and lines
// the assembler refused are marked along the top in red.
import { countWhile } from "./sorted.js";

export const TRACK_COLOURS = [
  "#2563eb", "#dc2626", "#16a34a", "#d97706", "#7c3aed", "#0891b2", "#db2777", "#65a30d",
  "#ea580c", "#4f46e5", "#0d9488", "#9333ea",
];
export const RULER = 20;
export const AXIS = 36;
// The longest stretch of drawing between yields to the page, in ms.
const SLICE_MS = 25;
const BACKGROUND = [251, 250, 247];
const BLACK_KEY_ROW = [240, 238, 232];
const BLACK_KEYS = new Set([1, 3, 6, 8, 10]);
const HANGING = [17, 17, 17];

function rgb(hex) {
  const v = parseInt(hex.slice(1), 16);
  return [v >> 16, (v >> 8) & 255, v & 255];
}
const pack = ([r, g, b]) => (255 << 24) | (b << 16) | (g << 8) | r;

export class PianoRoll {
  constructor(container, legend) {
    this.container = container;
    this.legend = legend;
    this.notesCanvas = container.querySelector(".roll-notes");
    this.overlay = container.querySelector(".roll-overlay");
    this.view = null; // SongView
    this.names = true; // the pitch axis names notes (else numbers)
    this.cursor = null;
    this.playhead = null;
    this.selected = -1;
    this.problems = [];
    // What is shown: the tick at the left edge, ticks per CSS pixel, the
    // key at the top edge and pixels per key.
    this.tick0 = 0;
    this.ticksPerPixel = 1;
    this.keyTop = 84;
    this.rowPixels = 6;
    this.frame = 0;
    new ResizeObserver(() => this.redraw()).observe(container);
  }

  get song() {
    return this.view?.song ?? null;
  }

  // A new song; the view is fitted to it the first time and kept after.
  setSong(view, { fit = false } = {}) {
    const first = this.view === null;
    this.view = view;
    this.selected = -1;
    if (view && (first || fit)) this.fit();
    else this.redraw();
    this.#drawLegend();
  }

  clear() {
    this.view = null;
    this.problems = [];
    this.redraw();
    this.#drawLegend();
  }

  width() {
    return Math.max(1, this.overlay.clientWidth - AXIS);
  }

  height() {
    return Math.max(1, this.overlay.clientHeight - RULER);
  }

  #length() {
    return Math.max(this.song?.endTick ?? 0, 1);
  }

  fit() {
    this.tick0 = 0;
    this.ticksPerPixel = this.#length() / this.width();
    const [low, high] = this.song?.pitches ?? [48, 72];
    const spare = Math.max(2, (24 - (high - low)) >> 1);
    const top = Math.min(127, high + spare);
    const bottom = Math.max(0, low - spare);
    this.rowPixels = Math.max(1, this.height() / (top - bottom + 1));
    this.keyTop = top + 1;
    this.redraw();
  }

  // Moves and zooms, kept within the song and the keys.
  scrollTicks(ticks) {
    this.#setView(this.tick0 + ticks, this.ticksPerPixel);
  }

  scrollKeys(keys) {
    this.keyTop = Math.min(128, Math.max(this.height() / this.rowPixels, this.keyTop + keys));
    this.redraw();
  }

  // Zooms time by factor (above 1 shows more) around the CSS x given.
  zoomTime(factor, x = this.width() / 2) {
    const at = this.tick0 + x * this.ticksPerPixel;
    const perPixel = Math.min(Math.max(this.ticksPerPixel * factor, 1 / 64), (this.#length() * 4) / this.width());
    this.#setView(at - x * perPixel, perPixel);
  }

  zoomKeys(factor, y = this.height() / 2) {
    const at = this.keyTop - y / this.rowPixels;
    this.rowPixels = Math.min(40, Math.max(this.height() / 128, this.rowPixels / factor));
    this.keyTop = at + y / this.rowPixels;
    this.scrollKeys(0);
  }

  #setView(tick0, perPixel) {
    this.ticksPerPixel = perPixel;
    const last = Math.max(0, this.#length() - this.width() * perPixel * 0.5);
    this.tick0 = Math.min(Math.max(0, tick0), last);
    this.redraw();
  }

  // The editor's line: { track, tick } or null; the note it begins or -1.
  setCursor(position, note = -1) {
    this.cursor = position;
    this.selected = note;
    if (note >= 0) this.#reveal(this.song.notes.start[note], this.song.notes.key[note]);
    else if (position) this.#reveal(position.tick, null);
    this.#drawOverlay();
  }

  // Follows the playing position: past the right edge, the view turns a page.
  setPlayhead(tick) {
    this.playhead = tick;
    if (tick !== null && (tick < this.tick0 || tick > this.tick0 + this.width() * this.ticksPerPixel * 0.95)) {
      this.#setView(tick - this.width() * this.ticksPerPixel * 0.05, this.ticksPerPixel);
    } else this.#drawOverlay();
  }

  // Problems of the text: [{ tick, key (or null), severity }].
  setProblems(problems) {
    this.problems = problems;
    this.#drawOverlay();
  }

  #reveal(tick, key) {
    const span = this.width() * this.ticksPerPixel;
    let moved = false;
    if (tick < this.tick0 || tick > this.tick0 + span) {
      this.tick0 = Math.max(0, tick - span * 0.1);
      moved = true;
    }
    const rows = this.height() / this.rowPixels;
    if (key !== null && (key + 1 > this.keyTop || key < this.keyTop - rows)) {
      this.keyTop = Math.min(128, key + rows / 2);
      moved = true;
    }
    if (moved) this.redraw();
  }

  // The tick and key under a point in CSS pixels of the roll.
  tickAt(x) {
    return Math.max(0, Math.round(this.tick0 + (x - AXIS) * this.ticksPerPixel));
  }

  keyAt(y) {
    return Math.floor(this.keyTop - (y - RULER) / this.rowPixels);
  }

  // The note drawn under a point, the latest begun on top; -1 for none.
  noteAt(x, y) {
    const view = this.view;
    if (!view || x < AXIS || y < RULER) return -1;
    const tick = this.tick0 + (x - AXIS) * this.ticksPerPixel;
    const slack = this.ticksPerPixel; // a note narrower than a pixel is drawn one pixel wide
    const key = this.keyAt(y);
    const n = this.song.notes;
    const { order } = this.song;
    let found = -1;
    for (let k = view.firstReaching(tick - slack); k < order.length; k++) {
      const i = order[k];
      if (n.start[i] > tick) break;
      if (n.key[i] === key && Math.max(view.end[i], n.start[i] + slack) > tick) found = i;
    }
    if (found < 0) {
      for (const i of view.hanging) if (n.key[i] === key && n.start[i] <= tick) found = i;
    }
    return found;
  }

  redraw() {
    cancelAnimationFrame(this.frame);
    this.frame = requestAnimationFrame(() => {
      const ratio = window.devicePixelRatio || 1;
      for (const canvas of [this.notesCanvas, this.overlay]) {
        canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio));
        canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio));
      }
      this.#drawNotes(ratio);
      this.#drawOverlay();
    });
  }

  // Rasterises the notes in view a slice at a time, yielding between
  // slices, and shows the picture when it is complete; a newer drawing
  // cancels it.
  async #drawNotes(ratio) {
    const drawing = (this.drawing = {});
    const begun = performance.now();
    const { width, height } = this.notesCanvas;
    const view = this.view;
    if (!view) {
      this.notesCanvas.getContext("2d").clearRect(0, 0, width, height);
      this.notesCanvas.dataset.drawn = "0";
      return;
    }
    const image = new ImageData(width, height);
    const pixels = new Uint32Array(image.data.buffer);
    pixels.fill(pack(BACKGROUND));
    const left = Math.round(AXIS * ratio);
    const top = Math.round(RULER * ratio);
    const rowHeight = this.rowPixels * ratio;
    const rowTop = (key) => Math.round(top + (this.keyTop - key - 1) * rowHeight);
    const firstKey = Math.max(0, Math.floor(this.keyTop - (height - top) / rowHeight) - 1);
    const lastKey = Math.min(127, Math.ceil(this.keyTop));
    for (let key = firstKey; key <= lastKey; key++) {
      if (!BLACK_KEYS.has(key % 12)) continue;
      const y0 = Math.max(top, rowTop(key));
      const y1 = Math.min(height, rowTop(key - 1));
      if (y1 > y0) pixels.fill(pack(BLACK_KEY_ROW), y0 * width, y1 * width);
    }
    const colours = TRACK_COLOURS.map((c) => pack(rgb(c)));
    const stripe = pack(HANGING);
    const n = this.song.notes;
    const { order } = this.song;
    const scale = 1 / (this.ticksPerPixel / ratio);
    const tick0 = this.tick0;
    const tickEnd = tick0 + (width - left) / scale;
    const gap = rowHeight > 4 ? 1 : 0;
    let drawn = 0;
    let sliceStart = performance.now();
    const paint = (i, hanging) => {
      const key = n.key[i];
      if (key < firstKey || key > lastKey) return;
      const end = view.end[i];
      if (end < tick0 && n.start[i] < tick0) return;
      const x0 = Math.max(left, Math.min(width - 1, left + Math.floor((n.start[i] - tick0) * scale)));
      const x1 = Math.min(width, Math.max(x0 + 1, left + Math.floor((end - tick0) * scale)));
      const y0 = Math.max(top, rowTop(key));
      const y1 = Math.min(height, Math.max(y0 + 1, rowTop(key - 1) - gap));
      const colour = colours[n.track[i] % colours.length];
      for (let y = y0; y < y1; y++) {
        if (!hanging) pixels.fill(colour, y * width + x0, y * width + x1);
        else for (let x = x0; x < x1; x++) pixels[y * width + x] = (x + y) % 8 < 4 ? stripe : colour;
      }
      drawn++;
    };
    let k = view.firstReaching(tick0);
    while (k < order.length) {
      if ((k & 4095) === 0 && performance.now() - sliceStart > SLICE_MS) {
        await new Promise((resume) => setTimeout(resume, 0));
        if (this.drawing !== drawing) return;
        sliceStart = performance.now();
      }
      const i = order[k++];
      if (n.start[i] > tickEnd) break;
      if (n.length[i] >= 0) paint(i, false);
    }
    for (const i of view.hanging) if (n.start[i] <= tickEnd) paint(i, true);
    if (this.drawing !== drawing) return;
    this.notesCanvas.getContext("2d").putImageData(image, 0, 0);
    this.notesCanvas.dataset.drawn = String(drawn);
    this.notesCanvas.dataset.pictures = String(Number(this.notesCanvas.dataset.pictures ?? 0) + 1);
    this.notesCanvas.dataset.drawMs = (performance.now() - begun).toFixed(1);
  }

  #x(tick) {
    return AXIS + Math.round((tick - this.tick0) / this.ticksPerPixel) + 0.5;
  }

  #drawOverlay() {
    const canvas = this.overlay;
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, canvas.width, canvas.height);
    if (!this.view) return;
    const ratio = canvas.width / Math.max(canvas.clientWidth, 1);
    g.save();
    g.scale(ratio, ratio);
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    g.save();
    g.beginPath();
    g.rect(AXIS, 0, width - AXIS, height);
    g.clip();
    this.#drawBars(g, width, height);
    const n = this.song.notes;
    if (this.selected >= 0 && this.selected < n.start.length) {
      const i = this.selected;
      const x0 = this.#x(n.start[i]);
      const x1 = Math.max(x0 + 3, this.#x(this.view.end[i]));
      const y0 = RULER + (this.keyTop - n.key[i] - 1) * this.rowPixels;
      g.strokeStyle = "#111";
      g.lineWidth = 2;
      g.strokeRect(x0 - 1, y0 - 1, x1 - x0 + 2, Math.max(this.rowPixels, 3) + 2);
    }
    for (const problem of this.problems) this.#drawProblem(g, problem, height);
    if (this.cursor) this.#line(g, this.#x(this.cursor.tick), height, TRACK_COLOURS[this.cursor.track % TRACK_COLOURS.length], 2);
    if (this.playhead !== null) this.#line(g, this.#x(this.playhead), height, "#111", 1.5);
    g.restore();
    this.#drawAxis(g, height);
    g.restore();
  }

  // Bar lines and numbers, as many as fit: every line a few pixels apart,
  // numbers further apart, in steps of powers of two.
  #drawBars(g, width, height) {
    g.fillStyle = "rgba(245, 243, 237, 0.95)";
    g.fillRect(AXIS, 0, width - AXIS, RULER);
    g.font = "11px system-ui, sans-serif";
    g.textBaseline = "middle";
    const track = this.song.format === 2 ? (this.cursor?.track ?? 0) : 0;
    const bars = this.view.barList(track);
    this.barLabels = [];
    const tickEnd = this.tick0 + (width - AXIS) * this.ticksPerPixel;
    const barPixels = bars.length > 1 ? (bars[1].tick - bars[0].tick) / this.ticksPerPixel : 100;
    let step = 1;
    while (step * barPixels < 40 && step < 2 ** 20) step *= 2;
    let lineStep = 1;
    while (lineStep * barPixels < 5 && lineStep < 2 ** 20) lineStep *= 2;
    for (let i = Math.max(0, countWhile(bars.length, (k) => bars[k].tick < this.tick0) - 1); i < bars.length; i++) {
      const bar = bars[i];
      if (bar.tick > tickEnd) break;
      if ((bar.number - 1) % lineStep !== 0) continue;
      const major = (bar.number - 1) % step === 0;
      const x = this.#x(bar.tick);
      g.strokeStyle = major ? "rgba(60, 60, 60, 0.35)" : "rgba(60, 60, 60, 0.12)";
      g.beginPath();
      g.moveTo(x, major ? 0 : RULER);
      g.lineTo(x, height);
      g.stroke();
      if (major) {
        g.fillStyle = "#444";
        g.fillText(String(bar.number), x + 3, RULER / 2);
        this.barLabels.push({ number: bar.number, tick: bar.tick });
      }
    }
    if (bars.length === 0 && this.song.ticksPerSecond > 0) {
      g.fillStyle = "#444";
      g.fillText("ticks (SMPTE)", AXIS + 4, RULER / 2);
    }
  }

  // A refused line: a red mark along the top at its time, and for a key
  // past the keyboard a red bar at the top edge.
  #drawProblem(g, { tick, key, severity }, height) {
    const x = this.#x(tick);
    g.fillStyle = severity === "error" ? "#dc2626" : "#d97706";
    g.beginPath();
    g.moveTo(x - 5, RULER - 8);
    g.lineTo(x + 5, RULER - 8);
    g.lineTo(x, RULER);
    g.fill();
    if (key !== null && key > 127) g.fillRect(x - 1, RULER, 8, 4);
    g.globalAlpha = 0.35;
    g.fillRect(x - 0.5, RULER, 1, height - RULER);
    g.globalAlpha = 1;
  }

  #drawAxis(g, height) {
    g.fillStyle = "#f3f1ec";
    g.fillRect(0, 0, AXIS, height);
    g.font = "10px system-ui, sans-serif";
    g.textBaseline = "middle";
    const every = this.rowPixels >= 11 ? 1 : this.rowPixels >= 2 ? 12 : 24;
    this.keyLabels = [];
    for (let key = 0; key < 128; key++) {
      if (key % every !== 0) continue;
      const y = RULER + (this.keyTop - key - 0.5) * this.rowPixels;
      if (y < RULER || y > height) continue;
      g.fillStyle = BLACK_KEYS.has(key % 12) ? "#9ca3af" : "#374151";
      const label = this.names ? (this.view?.song.noteNames?.[key] ?? String(key)) : String(key);
      g.fillText(label, 4, y);
      this.keyLabels.push(label);
    }
    g.strokeStyle = "#e3e0d8";
    g.beginPath();
    g.moveTo(AXIS - 0.5, 0);
    g.lineTo(AXIS - 0.5, height);
    g.stroke();
  }

  #line(g, x, height, colour, width) {
    g.strokeStyle = colour;
    g.lineWidth = width;
    g.beginPath();
    g.moveTo(x, 0);
    g.lineTo(x, height);
    g.stroke();
    g.fillStyle = colour;
    g.beginPath();
    g.moveTo(x - 5, 0);
    g.lineTo(x + 5, 0);
    g.lineTo(x, 7);
    g.fill();
  }

  #drawLegend() {
    this.legend.replaceChildren();
    const song = this.song;
    if (!song) return;
    song.extent.trackNotes.forEach((notes, i) => {
      if (notes === 0) return;
      const chip = document.createElement("span");
      chip.className = "chip";
      chip.style.setProperty("--colour", TRACK_COLOURS[i % TRACK_COLOURS.length]);
      const name = this.view.lines?.trackNames?.[i];
      chip.textContent = name ? `${i + 1} ${name}` : `track ${i + 1}`;
      chip.title = `track ${i + 1}: ${notes.toLocaleString("en")} notes`;
      this.legend.append(chip);
    });
    // A tick listing in measures counts them its own way (from 0, across
    // tracks); the roll keeps the one metre map, and says whose it is.
    if (this.measuresNote) {
      const chip = document.createElement("span");
      chip.className = "chip note";
      chip.textContent = "bars as the score form numbers them";
      chip.title = "The listing's measure column counts from 0, carrying the metre from track to track; "
        + "the roll numbers bars from 1 by the first track's time signatures, as the score form does";
      this.legend.append(chip);
    }
    if (this.view.hangingCount > 0) {
      const chip = document.createElement("span");
      chip.className = "chip hanging";
      chip.textContent = `${this.view.hangingCount.toLocaleString("en")} never end`;
      chip.title = "Striped: notes that no note-off ends, drawn to the end of the song";
      this.legend.append(chip);
    }
  }
}
