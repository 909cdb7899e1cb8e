// The worker's copy of the editor's text is kept up to date by sending it
// each transaction's changes rather than the text: a few bytes per
// keystroke instead of the whole listing. A change is [from, length,
// insert]: applied in order, each `from` is a position in the text as the
// earlier changes left it, and `length` counts characters of the old text.

// The changes of a CodeMirror ChangeSet in that form.
export function mirrorChanges(changeSet) {
  const changes = [];
  changeSet.iterChanges((fromA, toA, fromB, _toB, inserted) => {
    changes.push([fromB, toA - fromA, inserted.toString()]);
  });
  return changes;
}

export function applyChanges(text, changes) {
  let result = text;
  for (const [from, length, insert] of changes) result = result.slice(0, from) + insert + result.slice(from + length);
  return result;
}
