// The piano roll: every note of the song as a bar in its track's colour,
// time running left to right over the whole song, measures along the top,
// the editor's line as a cursor and the playing position as a playhead.
// Notes are rasterised straight into pixels, not drawn one call each: a
// dense file has millions of them, and this keeps the page responsive.
import { measureLines } from "./measures.js";

export const TRACK_COLOURS = [
  "#2563eb", "#dc2626", "#16a34a", "#d97706", "#7c3aed", "#0891b2", "#db2777", "#65a30d",
  "#ea580c", "#4f46e5", "#0d9488", "#9333ea",
];
const RULER = 20;
const NOTES_PER_SLICE = 100000;
const BACKGROUND = [251, 250, 247];
const BLACK_KEY_ROW = [240, 238, 232];
const BLACK_KEYS = new Set([1, 3, 6, 8, 10]);

function rgb(hex) {
  const v = parseInt(hex.slice(1), 16);
  return [v >> 16, (v >> 8) & 255, v & 255];
}

export class PianoRoll {
  constructor(container, legend) {
    this.legend = legend;
    this.notesCanvas = container.querySelector(".roll-notes");
    this.overlay = container.querySelector(".roll-overlay");
    this.song = null;
    this.cursor = null;
    this.playhead = null;
    new ResizeObserver(() => this.#redraw()).observe(container);
  }

  setSong(song) {
    this.song = song;
    this.#redraw();
    this.#drawLegend();
  }

  clear() {
    this.setSong(null);
  }

  // The editor's line: { track, tick } or null.
  setCursor(position) {
    this.cursor = position;
    this.#drawOverlay();
  }

  setPlayhead(tick) {
    this.playhead = tick;
    this.#drawOverlay();
  }

  // The tick under a horizontal position in CSS pixels.
  tickAt(x) {
    return this.song ? Math.max(0, Math.round((x / this.overlay.clientWidth) * this.#length())) : 0;
  }

  #length() {
    return Math.max(this.song.endTick, 1);
  }

  #redraw() {
    const ratio = window.devicePixelRatio || 1;
    for (const canvas of [this.notesCanvas, this.overlay]) {
      canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio));
      canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    }
    this.#drawNotes(ratio);
    this.#drawOverlay();
  }

  #pitchRange() {
    const [low, high] = this.song.pitches ?? [48, 72];
    const spare = Math.max(2, (24 - (high - low)) >> 1);
    return [Math.max(0, low - spare), Math.min(127, high + spare)];
  }

  // Rasterises the notes a slice at a time, yielding between slices, and
  // shows the picture when it is complete; a newer drawing cancels it.
  async #drawNotes(ratio) {
    const drawing = (this.drawing = {});
    const { width, height } = this.notesCanvas;
    if (!this.song) {
      this.notesCanvas.getContext("2d").clearRect(0, 0, width, height);
      this.notesCanvas.dataset.drawn = "0";
      return;
    }
    const image = new ImageData(width, height);
    const pixels = new Uint32Array(image.data.buffer);
    const pack = ([r, g, b]) => (255 << 24) | (b << 16) | (g << 8) | r;
    pixels.fill(pack(BACKGROUND));
    {
      const top = Math.round(RULER * ratio);
      const [low, high] = this.#pitchRange();
      const rowHeight = (height - top) / (high - low + 1);
      const rowTop = (pitch) => top + Math.floor((high - pitch) * rowHeight);
      for (let pitch = low; pitch <= high; pitch++) {
        if (BLACK_KEYS.has(pitch % 12)) pixels.fill(pack(BLACK_KEY_ROW), rowTop(pitch) * width, rowTop(pitch - 1) * width);
      }
      const colours = TRACK_COLOURS.map((c) => pack(rgb(c)));
      const n = this.song.notes;
      const scale = width / this.#length();
      for (let first = 0; first < n.count; first += NOTES_PER_SLICE) {
        if (first > 0) await new Promise((resume) => setTimeout(resume, 0));
        if (this.drawing !== drawing) return;
        for (let i = first; i < Math.min(first + NOTES_PER_SLICE, n.count); i++) {
          const x0 = Math.min(width - 1, Math.floor(n.start[i] * scale));
          const x1 = Math.min(width, Math.max(x0 + 1, Math.floor(n.end[i] * scale)));
          const y0 = rowTop(n.pitch[i]);
          const y1 = Math.max(y0 + 1, rowTop(n.pitch[i] - 1) - (rowHeight > 4 ? 1 : 0));
          const colour = colours[n.track[i] % colours.length];
          for (let y = y0; y < y1; y++) pixels.fill(colour, y * width + x0, y * width + x1);
        }
      }
    }
    this.notesCanvas.getContext("2d").putImageData(image, 0, 0);
    this.notesCanvas.dataset.drawn = String(this.song.notes.count);
  }

  #drawOverlay() {
    const canvas = this.overlay;
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, canvas.width, canvas.height);
    if (!this.song) return;
    const ratio = canvas.width / Math.max(canvas.clientWidth, 1);
    g.save();
    g.scale(ratio, ratio);
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    const x = (tick) => Math.round((tick / this.#length()) * width) + 0.5;
    g.fillStyle = "rgba(245, 243, 237, 0.95)";
    g.fillRect(0, 0, width, RULER);
    g.font = "11px system-ui, sans-serif";
    g.textBaseline = "middle";
    for (const { tick, label, major } of measureLines(this.song, width)) {
      g.strokeStyle = major ? "rgba(60, 60, 60, 0.35)" : "rgba(60, 60, 60, 0.12)";
      g.beginPath();
      g.moveTo(x(tick), major ? 0 : RULER);
      g.lineTo(x(tick), height);
      g.stroke();
      if (label !== null) {
        g.fillStyle = "#444";
        g.fillText(label, x(tick) + 3, RULER / 2);
      }
    }
    if (this.cursor) this.#line(g, x(this.cursor.tick), height, TRACK_COLOURS[this.cursor.track % TRACK_COLOURS.length], 2);
    if (this.playhead !== null) this.#line(g, x(this.playhead), height, "#111", 1.5);
    g.restore();
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
    if (!this.song) return;
    this.song.tracks.forEach((track, i) => {
      if (track.notes === 0) return;
      const chip = document.createElement("span");
      chip.className = "chip";
      chip.style.setProperty("--colour", TRACK_COLOURS[i % TRACK_COLOURS.length]);
      chip.textContent = `${i + 1} ${track.name ?? ""}`.trim();
      chip.title = `track ${i + 1}: ${track.notes.toLocaleString("en")} notes`;
      this.legend.append(chip);
    });
  }
}
