// The order the roll draws and the synthesizer plays notes in: by start.

// Indices of the notes by start tick, ties in file order. Start and index
// packed into one exact double sort natively, far faster than a comparator.
export function startOrder(start) {
  const count = start.length;
  const order = new Uint32Array(count);
  const scale = 2 ** Math.ceil(Math.log2(count + 1));
  let latest = 0;
  for (let i = 0; i < count; i++) latest = Math.max(latest, start[i]);
  if (latest * scale + scale >= 2 ** 53) {
    for (let i = 0; i < count; i++) order[i] = i;
    return order.sort((a, b) => start[a] - start[b] || a - b);
  }
  const keys = new Float64Array(count);
  for (let i = 0; i < count; i++) keys[i] = start[i] * scale + i;
  keys.sort();
  for (let i = 0; i < count; i++) order[i] = keys[i] % scale;
  return order;
}
