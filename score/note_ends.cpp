#include "score/note_ends.h"

#include <algorithm>
#include <tuple>

namespace smfasm::score {

namespace {

// Heap orders: the root is the soonest. Function objects, so that the heap
// functions inline them.
constexpr auto later = [](const pending_end& a, const pending_end& b) {
    return std::tie(a.time, a.position, a.order) > std::tie(b.time, b.position, b.order);
};
constexpr auto later_unmarked = [](const auto& a, const auto& b) {
    return a.time != b.time ? a.time > b.time : a.order > b.order;
};

}  // namespace

void note_ends::add(const pending_end& end) {
    if (end.marked()) {
        marked_.push_back(end);
        std::push_heap(marked_.begin(), marked_.end(), later);
    } else {
        std::size_t stored = stored_.size();
        if (free_.empty()) {
            stored_.push_back(end);
        } else {
            stored = free_.back();
            free_.pop_back();
            stored_[stored] = end;
        }
        unmarked_.push_back({end.time, end.order, stored});
        std::push_heap(unmarked_.begin(), unmarked_.end(), later_unmarked);
    }
    due_ = std::min(due_, end.time);
}

const pending_end* note_ends::take_at_first_tick(bool whole) {
    const std::int64_t time = due_;
    const bool marked_here = !marked_.empty() && marked_.front().time == time;
    const bool unmarked_here = !unmarked_.empty() && unmarked_.front().time == time;
    if (marked_here && (marked_.front().position <= count_at(time) || (whole && !unmarked_here))) {
        std::pop_heap(marked_.begin(), marked_.end(), later);
        taken_ = marked_.back();
        marked_.pop_back();
    } else if (unmarked_here) {
        std::pop_heap(unmarked_.begin(), unmarked_.end(), later_unmarked);
        const std::size_t stored = unmarked_.back().stored;
        unmarked_.pop_back();
        taken_ = stored_[stored];
        free_.push_back(stored);
    } else {
        return nullptr;
    }
    find_due();
    return &taken_;
}

const pending_end* note_ends::next_before(std::int64_t time) {
    if (due_ > time) return nullptr;
    return take_at_first_tick(due_ < time);
}

const pending_end* note_ends::next_any() {
    if (empty()) return nullptr;
    return take_at_first_tick(true);
}

}  // namespace smfasm::score
