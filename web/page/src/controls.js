// The listing flags as the form shows them, turned into the options of the
// package's list and assemble calls, and back.
export class FlagControls {
  constructor(form, { onListChange, onAssembleChange }) {
    this.form = form;
    form.addEventListener("change", (event) => {
      if (event.target.name === "runningStatus") onAssembleChange();
      else onListChange();
    });
    form.addEventListener("submit", (event) => event.preventDefault());
    this.listOptions();
  }

  #field(name) {
    return this.form.elements[name];
  }

  // score = --score, measures = -b, noteNames = -n, long = -v, foldWidth = -fN, packets = -m
  listOptions() {
    const width = Number(this.#field("foldWidth").value);
    const score = this.#field("score").checked;
    // The score form has bars and note names of its own.
    this.#field("measures").disabled = score;
    this.#field("noteNames").disabled = score;
    return {
      score,
      measures: !score && this.#field("measures").checked,
      noteNames: !score && this.#field("noteNames").checked,
      long: this.#field("long").checked,
      foldWidth: this.#field("fold").checked && Number.isInteger(width) ? width : 0,
      packets: this.#field("packets").checked,
    };
  }

  runningStatus() {
    return this.#field("runningStatus").checked;
  }

  // Puts the form back to options that are in force (after a refusal).
  show(options) {
    for (const name of ["score", "measures", "noteNames", "long", "packets"]) this.#field(name).checked = options[name];
    this.#field("measures").disabled = options.score;
    this.#field("noteNames").disabled = options.score;
    this.#field("fold").checked = options.foldWidth !== 0;
    if (options.foldWidth !== 0) this.#field("foldWidth").value = options.foldWidth;
  }
}
