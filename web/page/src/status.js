// The status line under the editor and the panel of the lister's messages:
// what the page is doing, and whether the text assembles.
function plural(count, word) {
  return `${count} ${word}${count === 1 ? "" : "s"}`;
}

function firstProblem(messages) {
  const first = messages.find((m) => m.severity === "error") ?? messages[0];
  if (!first) return "";
  return first.line > 0 ? ` — line ${first.line}:${first.column}: ${first.message}` : ` — ${first.message}`;
}

export class Status {
  constructor(line) {
    this.line = line;
  }

  #show(text, mood = "") {
    this.line.textContent = text;
    this.line.className = `status ${mood}`;
  }

  idle() {
    this.#show("Open or drop a MIDI file, or try the demo.");
  }

  working(text) {
    this.#show(text);
  }

  failed(error) {
    this.#show(`Failed: ${error}`, "bad");
  }

  listed(name, lines) {
    this.#show(`${name}: ${lines.toLocaleString("en")} lines listed; assembling…`);
  }

  // `partial` ({ problem, size }) when the opened file did not list completely.
  assembled(ok, size, messages, partial = null) {
    const errors = messages.filter((m) => m.severity === "error").length;
    const warnings = messages.length - errors;
    if (ok && partial) {
      this.#show(`The file did not list completely (${partial.problem}): the download holds only what was listed, `
        + `${size.toLocaleString("en")} of ${partial.size.toLocaleString("en")} bytes`
        + `${warnings ? `; ${plural(warnings, "warning")}${firstProblem(messages)}` : ""}`, "bad");
    } else if (ok && warnings === 0) this.#show(`Assembles to ${size.toLocaleString("en")} bytes.`, "good");
    else if (ok) this.#show(`Assembles to ${size.toLocaleString("en")} bytes, ${plural(warnings, "warning")}${firstProblem(messages)}`, "bad");
    else this.#show(`${plural(errors, "error")}${warnings ? `, ${plural(warnings, "warning")}` : ""}; nothing to download${firstProblem(messages)}`, "bad");
  }

  refused(messages) {
    this.#show(`Fix the listing before changing the flags${firstProblem(messages)}`, "bad");
  }
}
