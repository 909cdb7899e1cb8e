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

note_ends::end_key key_of(const pending_end& end, std::size_t stored) {
    note_ends::end_key key{};
    key.time = end.time;
    key.stored = static_cast<std::uint32_t>(stored);
    key.status = static_cast<std::uint8_t>(end.status);
    key.key = static_cast<std::uint8_t>(end.key);
    key.velocity = static_cast<std::uint8_t>(end.velocity);
    // The status is a note-off's or a note-on's. An end with a status mark,
    // or with a key of 128 and more (raw=1), is left to the general path.
    key.plain = (end.status_mark == 0) & (static_cast<unsigned>(end.key) < 0x80) &
                (static_cast<unsigned>(end.velocity) <= 0xFF);
    return key;
}

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
        if (!tied_.empty() && end.time <= tied_time_) {
            if (end.time == tied_time_) {
                const tied_end tie{end.order, key_of(end, stored)};
                tied_.insert(std::upper_bound(tied_.begin(), tied_.end(), tie,
                                              [](const tied_end& a, const tied_end& b) { return a.order > b.order; }),
                             tie);
                due_ = std::min(due_, end.time);
                return;
            }
            untie();
        }
        push_unmarked(key_of(end, stored));
    }
    due_ = std::min(due_, end.time);
}

const pending_end* note_ends::take_at_first_tick(bool whole) {
    const std::int64_t time = due_;
    const bool marked_here = !marked_.empty() && marked_.front().time == time;
    const bool unmarked_here = unmarked_time() == time;
    if (marked_here && (marked_.front().position <= count_at(time) || (whole && !unmarked_here))) {
        std::pop_heap(marked_.begin(), marked_.end(), later);
        taken_ = marked_.back();
        marked_.pop_back();
    } else if (unmarked_here) {
        const end_key taken = take_unmarked();
        taken_ = stored_[taken.stored];
        free_.push_back(taken.stored);
    } else {
        return nullptr;
    }
    find_due();
    return &taken_;
}

note_ends::end_key note_ends::take_unmarked() {
    if (tied_.empty()) {
        const unmarked_key first = unmarked_.front();
        pop_unmarked();
        // Nearly always the only end at its tick.
        if (unmarked_.empty() || unmarked_.front().time != first.time) return first;
        tied_time_ = first.time;
        tied_.push_back({stored_[first.stored].order, first});
        while (!unmarked_.empty() && unmarked_.front().time == first.time) {
            const end_key next = unmarked_.front();
            pop_unmarked();
            tied_.push_back({stored_[next.stored].order, next});
        }
        std::sort(tied_.begin(), tied_.end(), [](const tied_end& a, const tied_end& b) { return a.order > b.order; });
    }
    const end_key taken = tied_.back().key;
    tied_.pop_back();
    return taken;
}

void note_ends::untie() {
    for (const tied_end& tie : tied_) {
        push_unmarked(tie.key);
    }
    tied_.clear();
}

void note_ends::push_unmarked(unmarked_key key) {
    unmarked_.push_back(key);
    unmarked_key* keys = unmarked_.data();
    std::size_t hole = unmarked_.size() - 1;
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / arity;
        if (keys[parent].time <= key.time) break;
        keys[hole] = keys[parent];
        hole = parent;
    }
    keys[hole] = key;
}

void note_ends::pop_unmarked() {
    const unmarked_key last = unmarked_.back();
    unmarked_.pop_back();
    const std::size_t size = unmarked_.size();
    if (size == 0) return;
    // The hole at the root goes down to a leaf by the earliest child, then
    // the last key goes up from there to its place, which is seldom far.
    // Each step down picks its child without a branch: with thousands of
    // notes sounding, which one it is cannot be foreseen.
    unmarked_key* keys = unmarked_.data();
    std::size_t hole = 0;
    std::size_t child = 1;
    for (; child + 3 < size; child = arity * hole + 1) {
        const std::size_t a = child + (keys[child + 1].time < keys[child].time ? 1 : 0);
        const std::size_t b = child + 2 + (keys[child + 3].time < keys[child + 2].time ? 1 : 0);
        const std::size_t earliest = keys[b].time < keys[a].time ? b : a;
        keys[hole] = keys[earliest];
        hole = earliest;
    }
    if (child < size) {
        std::size_t earliest = child;
        for (std::size_t other = child + 1; other < size; ++other) {
            if (keys[other].time < keys[earliest].time) earliest = other;
        }
        keys[hole] = keys[earliest];
        hole = earliest;
    }
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / arity;
        if (last.time >= keys[parent].time) break;
        keys[hole] = keys[parent];
        hole = parent;
    }
    keys[hole] = last;
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
