// Binary search in a sorted list, given by its length and a condition that
// holds for a leading part of it and not after.

// How many leading entries the condition holds for.
export function countWhile(count, holds) {
  let low = 0;
  let high = count;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (holds(mid)) low = mid + 1;
    else high = mid;
  }
  return low;
}
