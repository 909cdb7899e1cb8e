#include "score/note_ends.h"

#include <algorithm>
#include <tuple>

namespace smfasm::score {

namespace {

// The marked heap's order: the root is the soonest. A function object, so
// that the heap functions inline it.
constexpr auto later = [](const pending_end& a, const pending_end& b) {
    return std::tie(a.time, a.position, a.order) > std::tie(b.time, b.position, b.order);
};

}  // namespace

void note_ends::clear() {
    marked_.clear();
    pool_.clear();
    free_ = none;
    for (std::size_t word = 0; word < filled_.size(); ++word) {
        for (std::uint64_t filled = filled_[word]; filled != 0; filled &= filled - 1) {
            buckets_[word * 64 + static_cast<std::size_t>(std::countr_zero(filled))] = list{};
        }
    }
    least_.fill(none_due);
    filled_ = {};
    words_filled_ = 0;
    run_ = list{};
    base_ = 0;
    count_ = 0;
    group_time_ = -1;
    group_count_ = 0;
    due_ = none_due;
}

void note_ends::add_marked(const pending_end& end) {
    marked_.push_back(end);
    std::push_heap(marked_.begin(), marked_.end(), later);
    due_ = std::min(due_, end.time);
}

note_ends::list note_ends::take_bucket(std::size_t bucket) {
    const list taken = buckets_[bucket];
    buckets_[bucket].head = none;
    least_[bucket] = none_due;
    std::uint64_t& filled = filled_[bucket / 64];
    filled &= ~(std::uint64_t{1} << (bucket % 64));
    if (filled == 0) words_filled_ &= ~(1u << (bucket / 64));
    return taken;
}

void note_ends::gather(const list& from) {
    if (from.head == none) return;
    for (std::uint32_t n = from.head;; n = pool_[n].next) {
        moving_.push_back(n);
        if (n == from.tail) return;
    }
}

void note_ends::add_at_or_before_base(std::uint32_t at) {
    node& added = pool_[at];
    if (added.end.time == base_) {
        if (run_.head == none) {
            file(at);
            return;
        }
        // Joins the ends being taken at the base time, in the habit's
        // order: at the back or the front nearly always.
        const std::int64_t order = added.end.order;
        if (order >= pool_[run_.tail].end.order) {
            pool_[run_.tail].next = at;
            run_.tail = at;
        } else if (order < pool_[run_.head].end.order) {
            added.next = run_.head;
            run_.head = at;
        } else {
            std::uint32_t before = run_.head;
            while (pool_[pool_[before].next].end.order <= order) before = pool_[before].next;
            added.next = pool_[before].next;
            pool_[before].next = at;
        }
        return;
    }
    // Before the base: only a listing that goes back in time adds such an
    // end. Every end is filed again around its time as the new base.
    moving_.clear();
    gather(run_);
    run_ = list{};
    while (words_filled_ != 0) gather(take_bucket(first_bucket()));
    base_ = added.end.time;
    moving_.push_back(at);
    for (const std::uint32_t n : moving_) file(n);
}

void note_ends::settle() {
    for (;;) {
        const std::size_t first = first_bucket();
        const std::int64_t least = least_[first];
        const list bucket = take_bucket(first);
        base_ = least;
        // A bucket of the lowest level holds ends of one time; so does a
        // bucket of one end. Either is the run as it stands.
        if (first < 256 || bucket.head == bucket.tail) {
            run_ = bucket;
            if (bucket.head != bucket.tail) sort_run();
            return;
        }
        // Every end of the bucket goes to a lower level.
        std::uint32_t words_filled = words_filled_;
        for (std::uint32_t n = bucket.head;;) {
            const std::uint32_t next = pool_[n].next;
            file(n, least, words_filled);
            if (n == bucket.tail) break;
            n = next;
        }
        words_filled_ = words_filled;
    }
}

void note_ends::sort_run() {
    moving_.clear();
    gather(run_);
    const auto before = [this](std::uint32_t a, std::uint32_t b) { return pool_[a].end.order < pool_[b].end.order; };
    if (std::is_sorted(moving_.begin(), moving_.end(), before)) return;
    // Added latest first: the reverse habit.
    if (std::is_sorted(moving_.rbegin(), moving_.rend(), before)) {
        std::reverse(moving_.begin(), moving_.end());
    } else {
        std::stable_sort(moving_.begin(), moving_.end(), before);
    }
    run_.head = moving_.front();
    for (std::size_t i = 0; i + 1 < moving_.size(); ++i) pool_[moving_[i]].next = moving_[i + 1];
    run_.tail = moving_.back();
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
        taken_ = record(take_unmarked());
    } else {
        return nullptr;
    }
    due_ = first_time();
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
