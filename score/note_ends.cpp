#include "score/note_ends.h"

#include <algorithm>
#include <tuple>

namespace smfasm::score {

namespace {

// Heap order: the root is the soonest.
bool later(const pending_end& a, const pending_end& b) {
    return std::tie(a.time, a.position, a.order) > std::tie(b.time, b.position, b.order);
}

pending_end pop(std::vector<pending_end>& heap) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const pending_end end = heap.back();
    heap.pop_back();
    return end;
}

}  // namespace

void note_ends::add(const pending_end& end) {
    std::vector<pending_end>& heap = end.marked() ? marked_ : unmarked_;
    heap.push_back(end);
    std::push_heap(heap.begin(), heap.end(), later);
    due_ = std::min(due_, end.time);
}

const pending_end* note_ends::take_at_first_tick(bool whole) {
    const std::int64_t time = first_time();
    const bool marked_here = !marked_.empty() && marked_.front().time == time;
    const bool unmarked_here = !unmarked_.empty() && unmarked_.front().time == time;
    if (marked_here && (marked_.front().position <= count_at(time) || (whole && !unmarked_here))) {
        taken_ = pop(marked_);
    } else if (unmarked_here) {
        taken_ = pop(unmarked_);
    } else {
        return nullptr;
    }
    find_due();
    return &taken_;
}

const pending_end* note_ends::next_before(std::int64_t time) {
    if (empty() || first_time() > time) return nullptr;
    return take_at_first_tick(first_time() < time);
}

const pending_end* note_ends::next_any() {
    if (empty()) return nullptr;
    return take_at_first_tick(true);
}

}  // namespace smfasm::score
