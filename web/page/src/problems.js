// The panel of what the assembler says about the text: each error and
// warning with its line:column, a click on one moves the editor there.
// The page is stricter than smfasm in one thing: a data value above 127 is
// an error in both forms. The tick form's assembler writes such a value as
// it stands, with a warning, so that odd real files come back exactly; in
// the page it is nearly always a slip, and as a byte it would read as a
// status byte and garble what follows.

const NOT_DATA = /is not a MIDI data byte|more than two MIDI data bytes hold/;

// The assembler's messages as the page takes them; ok when none is an error.
export function pageMessages(messages) {
  const taken = messages.map((m) => (m.severity === "warning" && NOT_DATA.test(m.message)
    ? { ...m, severity: "error", message: m.message.replace(/; written as it stands$/, "; the page does not write it") }
    : m));
  return { messages: taken, ok: !taken.some((m) => m.severity === "error") };
}

export class ProblemPanel {
  constructor(panel, { onPick }) {
    this.panel = panel;
    this.onPick = onPick;
    this.listerText = "";
    this.messages = [];
  }

  // What the lister said about the file opened (a damaged file, say): it
  // stays until the next listing.
  setListerText(text) {
    this.listerText = text.trim();
    this.#render();
  }

  setMessages(messages) {
    this.messages = messages;
    this.#render();
  }

  #render() {
    const items = [];
    for (const line of this.listerText ? this.listerText.split("\n") : []) {
      const item = document.createElement("li");
      item.className = "lister";
      item.textContent = line;
      items.push(item);
    }
    for (const m of this.messages) {
      const item = document.createElement("li");
      item.className = m.severity;
      const where = document.createElement("button");
      where.type = "button";
      where.className = "where";
      where.textContent = m.line > 0 ? `${m.line}:${m.column}` : "listing";
      where.title = m.line > 0 ? `Go to line ${m.line}, column ${m.column}` : "Go to the start of the listing";
      where.addEventListener("click", () => this.onPick(Math.max(m.line, 1), Math.max(m.column, 1)));
      const text = document.createElement("span");
      text.textContent = `${m.severity}: ${m.message}`;
      item.append(where, " ", text);
      items.push(item);
    }
    this.panel.replaceChildren(...items);
    this.panel.hidden = items.length === 0;
  }
}
