// Getting files in and out of the page: the Open button, dropping a file
// anywhere on the page, and saving bytes under a name. Nothing leaves the
// machine: files are read and saved by the browser itself.

// Calls onFile(name, arrayBuffer) for a file picked or dropped; a drop of
// several files opens none of them and calls onMany(count) instead, since
// the page holds one file and which one was meant is not known.
export function acceptFiles({ button, input, dropTarget, onFile, onMany }) {
  const take = async (file) => {
    if (file) onFile(file.name, await file.arrayBuffer());
  };
  button.addEventListener("click", () => input.click());
  input.addEventListener("change", () => {
    take(input.files[0]);
    input.value = "";
  });
  const dragging = (on) => dropTarget.classList.toggle("dragging", on);
  dropTarget.addEventListener("dragover", (event) => {
    event.preventDefault();
    dragging(true);
  });
  dropTarget.addEventListener("dragleave", (event) => {
    if (event.relatedTarget === null) dragging(false);
  });
  dropTarget.addEventListener("drop", (event) => {
    event.preventDefault();
    dragging(false);
    const { files } = event.dataTransfer;
    if (files.length > 1) onMany(files.length);
    else take(files[0]);
  });
}

// The name to save an assembled file under: a MIDI file keeps its own
// name, a listing takes the name of the MIDI file it stands for. What is
// left of a file that listed only in part is song.partial.mid, so that
// saving it never replaces the whole file.
export function midiName(name, { partial = false } = {}) {
  if (!name) return partial ? "untitled.partial.mid" : "untitled.mid";
  const midi = /\.(mid|midi|smf|kar|rmi)$/i.test(name);
  if (midi && !partial) return name;
  const dot = name.lastIndexOf(".");
  return `${dot > 0 ? name.slice(0, dot) : name}${partial ? ".partial" : ""}.mid`;
}

export function saveBytes(bytes, name) {
  const url = URL.createObjectURL(new Blob([bytes], { type: "audio/midi" }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}
