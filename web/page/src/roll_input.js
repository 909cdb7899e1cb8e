// Moving about the piano roll: the wheel scrolls (keys up and down, time
// with Shift or a sideways wheel), Ctrl+wheel and a pinch zoom time around
// the pointer and Ctrl+Shift+wheel zooms the keys; arrows, + and -, Home,
// End and 0 do the same from the keyboard, and so do the buttons. A click
// on a note hands it to onNote; a click elsewhere hands the tick to onTick.
import { AXIS, RULER } from "./piano_roll.js";

const ZOOM_STEP = 1.25;

export function attachRollInput(roll, { container, buttons, onNote, onTick }) {
  container.addEventListener("wheel", (event) => {
    if (!roll.view) return;
    event.preventDefault();
    const box = container.getBoundingClientRect();
    const x = event.clientX - box.left - AXIS;
    const y = event.clientY - box.top - RULER;
    const delta = event.deltaMode === 1 ? event.deltaY * 16 : event.deltaY;
    if (event.ctrlKey && event.shiftKey) roll.zoomKeys(Math.exp(delta * 0.005), y);
    else if (event.ctrlKey) roll.zoomTime(Math.exp(delta * 0.005), x);
    else if (event.shiftKey || Math.abs(event.deltaX) > Math.abs(event.deltaY)) {
      roll.scrollTicks((event.shiftKey ? delta : event.deltaX) * roll.ticksPerPixel);
    } else roll.scrollKeys(-delta / roll.rowPixels);
  }, { passive: false });

  const page = () => roll.width() * roll.ticksPerPixel;
  const keys = {
    ArrowLeft: () => roll.scrollTicks(-page() / 8),
    ArrowRight: () => roll.scrollTicks(page() / 8),
    ArrowUp: () => roll.scrollKeys(2),
    ArrowDown: () => roll.scrollKeys(-2),
    PageUp: () => roll.scrollTicks(-page()),
    PageDown: () => roll.scrollTicks(page()),
    Home: () => roll.scrollTicks(-Infinity),
    End: () => roll.scrollTicks(Infinity),
    "+": () => roll.zoomTime(1 / ZOOM_STEP),
    "=": () => roll.zoomTime(1 / ZOOM_STEP),
    "-": () => roll.zoomTime(ZOOM_STEP),
    "0": () => roll.fit(),
  };
  const shiftKeys = { "+": () => roll.zoomKeys(1 / ZOOM_STEP), "-": () => roll.zoomKeys(ZOOM_STEP), _: () => roll.zoomKeys(ZOOM_STEP) };
  container.addEventListener("keydown", (event) => {
    if (!roll.view || event.ctrlKey || event.altKey || event.metaKey) return;
    const action = (event.shiftKey && shiftKeys[event.key]) || keys[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  });

  const actions = {
    "zoom-in": () => roll.zoomTime(1 / ZOOM_STEP),
    "zoom-out": () => roll.zoomTime(ZOOM_STEP),
    "keys-in": () => roll.zoomKeys(1 / ZOOM_STEP),
    "keys-out": () => roll.zoomKeys(ZOOM_STEP),
    fit: () => roll.fit(),
  };
  for (const button of buttons.querySelectorAll("button[data-roll]")) {
    button.addEventListener("click", () => roll.view && actions[button.dataset.roll]());
  }

  container.addEventListener("click", (event) => {
    if (!roll.view) return;
    const box = container.getBoundingClientRect();
    const x = event.clientX - box.left;
    const y = event.clientY - box.top;
    const note = roll.noteAt(x, y);
    if (note >= 0) onNote(note);
    else if (x >= AXIS) onTick(roll.tickAt(x));
  });
}
