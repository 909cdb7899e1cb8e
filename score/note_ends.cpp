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
            const std::size_t bucket = word * 64 + static_cast<std::size_t>(std::countr_zero(filled));
            buckets_[bucket] = bucket_ends{};
        }
    }
    filled_ = {};
    words_filled_ = 0;
    run_.clear();
    head_ = 0;
    base_ = 0;
    filed_after_ = 0;
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
    const list taken = buckets_[bucket].ends;
    buckets_[bucket] = bucket_ends{};
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

void note_ends::unrun() {
    for (std::size_t i = head_; i < run_.size(); ++i) file(run_node(run_[i]));
    empty_run();
}

void note_ends::add_before_filed(std::uint32_t at) {
    const std::int64_t time = pool_[at].end.time;
    if (time < base_) {
        // Before the base: only a listing that goes back in time adds such
        // an end. Every end is filed again around its time as the new base.
        moving_.clear();
        for (std::size_t i = head_; i < run_.size(); ++i) moving_.push_back(run_node(run_[i]));
        run_.clear();
        head_ = 0;
        while (words_filled_ != 0) gather(take_bucket(first_bucket()));
        base_ = time;
        filed_after_ = time;
        moving_.push_back(at);
        for (const std::uint32_t n : moving_) file(n);
        return;
    }
    if (head_ == run_.size()) {
        file(at);  // at the base time
        return;
    }
    if (run_.size() - head_ >= run_most) {
        // Many ends added into the run would each move all behind them.
        unrun();
        file(at);
        return;
    }
    // After the ends of earlier times, and of its own time before it in
    // the habit's order.
    const std::uint64_t added = run_end(time - base_, at);
    auto place = std::upper_bound(run_.begin() + static_cast<std::ptrdiff_t>(head_), run_.end(), added | 0xFFFFFFFFu);
    while (place != run_.begin() + static_cast<std::ptrdiff_t>(head_) && (place[-1] >> 32) == (added >> 32) &&
           before_in_order(at, run_node(place[-1]))) {
        --place;
    }
    run_.insert(place, added);
}

void note_ends::settle() {
    for (;;) {
        const std::size_t first = first_bucket();
        const std::int64_t least = buckets_[first].least;
        const std::uint32_t size = buckets_[first].size;
        const list bucket = take_bucket(first);
        base_ = least;
        // A bucket of the lowest level holds ends of one time; a small one
        // is sorted whole.
        if (first < 256 || (size <= run_most && first < sorted_levels * 256)) {
            run_.clear();
            head_ = 0;
            std::int64_t latest = least;
            for (std::uint32_t n = bucket.head;; n = pool_[n].next) {
                const std::int64_t time = pool_[n].end.time;
                latest = std::max(latest, time);
                run_.push_back(run_end(time - least, n));
                if (n == bucket.tail) break;
            }
            if (size > 1) {
                // Ends of one time need only the habit's order.
                if (latest != least) sort_run(static_cast<std::uint64_t>(latest - least));
                order_ties();
            }
            filed_after_ = run_time(run_.back());
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

void note_ends::sort_run(std::uint64_t spread) {
    const std::size_t size = run_.size();
    if (size > small_run) {
        // Dealt by the high bits of their times into about as many slots
        // as there are ends, so that few share a slot and the sort behind
        // has little to move.
        const auto slot_bits = static_cast<int>(std::bit_width(size));
        const int shift = std::max(0, static_cast<int>(std::bit_width(spread)) - slot_bits);
        const std::size_t slots = (spread >> shift) + 1;
        // Only the slots used are cleared.
        std::array<std::uint32_t, (run_most << 1) + 1> starts;
        std::fill_n(starts.begin(), slots + 1, 0);
        for (const std::uint64_t end : run_) ++starts[((end >> 32) >> shift) + 1];
        for (std::size_t slot = 1; slot < slots; ++slot) starts[slot] += starts[slot - 1];
        dealt_.resize(size);
        for (const std::uint64_t end : run_) dealt_[starts[(end >> 32) >> shift]++] = end;
        run_.swap(dealt_);
    }
    // Insertion: ends dealt into slots are nearly in order, and a short
    // run's few compares cost less than any setting up.
    std::uint64_t* const ends = run_.data();
    for (std::size_t i = 1; i < size; ++i) {
        const std::uint64_t end = ends[i];
        std::size_t at = i;
        for (; at > 0 && ends[at - 1] > end; --at) ends[at] = ends[at - 1];
        ends[at] = end;
    }
}

void note_ends::order_ties() {
    const auto time_of = [](std::uint64_t end) { return end >> 32; };
    for (auto tie = std::adjacent_find(run_.begin(), run_.end(),
                                       [&](std::uint64_t a, std::uint64_t b) { return time_of(a) == time_of(b); });
         tie != run_.end();) {
        auto after = tie + 1;
        while (after != run_.end() && time_of(*after) == time_of(*tie)) ++after;
        std::sort(tie, after,
                  [this](std::uint64_t a, std::uint64_t b) { return before_in_order(run_node(a), run_node(b)); });
        tie = std::adjacent_find(after, run_.end(),
                                 [&](std::uint64_t a, std::uint64_t b) { return time_of(a) == time_of(b); });
    }
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
