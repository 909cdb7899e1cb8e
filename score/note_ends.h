// Where the assembler puts the ends of the notes still sounding: the one
// rule the lister's marks are measured against. At each tick the ends come
// before the tick's other events, in the order their notes began (or its
// reverse, by the track's habit); an end with a mark takes the place at its
// tick that the mark gives.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

namespace smfasm::score {

struct pending_end {
    std::int64_t time = 0;
    // The end's place among the events of its tick; unmarked ends have none.
    std::int32_t position = std::numeric_limits<std::int32_t>::max();
    std::int64_t order = 0;  // the habit's order among unmarked ends of a tick
    std::int64_t line = 0;   // the Note line and its length's column, for messages
    std::int64_t column = 0;
    int status = 0;  // the end's status byte
    int key = 0;
    int velocity = 0;     // 0 to 255
    int status_mark = 0;  // as track_event::mark
    bool marked() const { return position != std::numeric_limits<std::int32_t>::max(); }
};

class note_ends {
public:
    note_ends() { clear(); }

    // An unmarked end as the queue keeps it: all of it in one record, which
    // stays in its place until the end is taken.
    struct entry {
        std::int64_t time;
        std::int64_t order;
        std::int64_t line;
        std::int64_t column;
        std::int32_t key;
        std::uint8_t status;
        std::uint8_t velocity;
        std::uint8_t status_mark;
        // Written by its bytes alone: no status mark, and a key below 128.
        bool plain() const { return (status_mark | (static_cast<std::uint32_t>(key) & ~0x7Fu)) == 0; }
    };

    void clear();
    bool empty() const { return marked_.empty() && count_ == 0; }
    std::size_t size() const { return marked_.size() + count_; }
    std::size_t unmarked_size() const { return count_; }
    // The earliest end's time, worked out: what due() keeps.
    std::int64_t first_time() const {
        return std::min(unmarked_time(), marked_.empty() ? none_due : marked_.front().time);
    }
    // The earliest end's time, or the largest time when none is pending:
    // one compare tells an event that no end comes before it.
    std::int64_t due() const { return due_; }
    void add(const pending_end& end) {
        if (end.marked()) {
            add_marked(end);
        } else {
            add_unmarked(entry{end.time, end.order, end.line, end.column, end.key,
                               static_cast<std::uint8_t>(end.status), static_cast<std::uint8_t>(end.velocity),
                               static_cast<std::uint8_t>(end.status_mark)});
        }
    }
    void add_unmarked(const entry& end) {
        std::uint32_t at = free_;
        if (at != none) {
            free_ = pool_[at].next;
        } else {
            at = static_cast<std::uint32_t>(pool_.size());
            pool_.emplace_back();
        }
        pool_[at].end = end;
        if (end.time > filed_after_) [[likely]] {
            file(at);
        } else {
            add_before_filed(at);
        }
        ++count_;
        due_ = std::min(due_, end.time);
    }

    // Every event written at `time`, explicit or an end, is counted here,
    // so that marks can say "the third event of its tick".
    void written(std::int64_t time) {
        // Without a branch: whether an event shares the tick before is as
        // hard to foresee as the music.
        group_count_ = (time == group_time_ ? group_count_ : 0) + 1;
        group_time_ = time;
    }

    // The events counted at `time`, which is the last time written or
    // later; and the count set as a caller that wrote events kept it.
    std::int32_t count_at(std::int64_t time) const { return time == group_time_ ? group_count_ : 0; }
    void set_count(std::int64_t time, std::int32_t count) {
        group_time_ = time;
        group_count_ = count;
    }

    // The next end to write before an event at `time`, or null: it is
    // taken out of the queue and stays valid until the next call.
    const pending_end* next_before(std::int64_t time);
    // The next end of all, at the track's end.
    const pending_end* next_any();

    // Whether no marked end comes by `time`; then only time and order
    // place the ends before an event at `time`, and next_unmarked_before
    // does what next_before does.
    bool unmarked_only_by(std::int64_t time) const { return marked_.empty() || marked_.front().time > time; }
    // The next end before an event at `time`, or null, while
    // unmarked_only_by(time): valid until the next add or take.
    const entry* next_unmarked_before(std::int64_t time) {
        if (due_ > time) return nullptr;
        const entry& taken = take_unmarked();
        due_ = first_time();
        return &taken;
    }
    // An end as a record of its own.
    static pending_end record(const entry& end) {
        pending_end record;
        record.time = end.time;
        record.order = end.order;
        record.line = end.line;
        record.column = end.column;
        record.status = end.status;
        record.key = end.key;
        record.velocity = end.velocity;
        record.status_mark = end.status_mark;
        return record;
    }

private:
    static constexpr std::int64_t none_due = std::numeric_limits<std::int64_t>::max();
    static constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
    // The queue's buckets: 256 to a level, a level for each byte of a
    // time, numbered level by level.
    static constexpr std::size_t buckets = 8 * 256;
    // An unmarked end where it waits, in a list. A list ends at its tail,
    // whose next is left as it was.
    struct node {
        entry end;
        std::uint32_t next;
    };
    struct list {
        std::uint32_t head = none;  // none: empty
        std::uint32_t tail = none;
    };
    // An end of the run as one number: its time after the base in the high
    // half and its node in the low, so that the run sorts as plain
    // numbers. Only buckets of levels 0 to 4, whose times lie less than
    // 2^32 ticks apart, are sorted.
    static std::uint64_t run_end(std::int64_t after_base, std::uint32_t at) {
        return static_cast<std::uint64_t>(after_base) << 32 | at;
    }
    std::int64_t run_time(std::uint64_t end) const { return base_ + static_cast<std::int64_t>(end >> 32); }
    static std::uint32_t run_node(std::uint64_t end) { return static_cast<std::uint32_t>(end); }
    static constexpr std::size_t sorted_levels = 5;
    // A bucket of at most this many ends is sorted into the run whole
    // rather than filed again level by level; a run grown past it by ends
    // added into it goes back to the buckets.
    static constexpr std::uint32_t run_most = 128;
    struct bucket_ends {
        list ends;
        std::uint32_t size = 0;
        std::int64_t least = none_due;  // none_due where empty
    };

    void add_marked(const pending_end& end);
    // Puts the end at `at` in its bucket: by the highest byte in which its
    // time differs from the base, and that byte's value. The base and the
    // bits of words_filled_ are passed in, so that a loop keeps them in
    // registers.
    [[gnu::always_inline]] void file(std::uint32_t at, std::int64_t base, std::uint32_t& words_filled) {
        const std::int64_t time = pool_[at].end.time;
        const auto level = static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(time ^ base) | 1) - 1) / 8;
        // Read as unsigned with the sign bit turned, so that a byte's value
        // orders times below 0 too.
        const std::uint64_t ordered = static_cast<std::uint64_t>(time) ^ (std::uint64_t{1} << 63);
        const std::size_t bucket = level << 8 | ((ordered >> (8 * level)) & 0xFF);
        bucket_ends& waiting = buckets_[bucket];
        if (waiting.ends.head == none) {
            waiting.ends.head = at;
        } else {
            pool_[waiting.ends.tail].next = at;
        }
        waiting.ends.tail = at;
        ++waiting.size;
        waiting.least = std::min(waiting.least, time);
        filled_[bucket / 64] |= std::uint64_t{1} << (bucket % 64);
        words_filled |= 1u << (bucket / 64);
    }
    void file(std::uint32_t at) { file(at, base_, words_filled_); }
    // An end at or before the last time filed in the buckets.
    void add_before_filed(std::uint32_t at);
    // The end the rule writes next at the first pending tick; `whole`: the
    // tick has no more events of its own, so marked ends come in turn.
    const pending_end* take_at_first_tick(bool whole);
    // The first bucket that holds ends; only when one does.
    std::size_t first_bucket() const {
        const auto word = static_cast<std::size_t>(std::countr_zero(words_filled_));
        return word * 64 + static_cast<std::size_t>(std::countr_zero(filled_[word]));
    }
    // The earliest unmarked end's time, or none_due.
    std::int64_t unmarked_time() const {
        if (head_ != run_.size()) return run_time(run_[head_]);
        return words_filled_ == 0 ? none_due : buckets_[first_bucket()].least;
    }
    // Takes the earliest unmarked end out, by time and then the habit's
    // order: valid until the next add.
    const entry& take_unmarked() {
        if (head_ == run_.size()) settle();
        const std::uint32_t at = run_node(run_[head_++]);
        if (head_ == run_.size()) empty_run();
        node& taken = pool_[at];
        taken.next = free_;
        free_ = at;
        --count_;
        return taken.end;
    }
    // Makes the run from the earliest bucket, filing the ends of larger
    // buckets again until the earliest is small enough.
    void settle();
    // Sorts the run by time and node; `spread`: its last time after the
    // base. With few compares whose outcome is hard to foresee: a run
    // holds a few dozen ends in any order.
    void sort_run(std::uint64_t spread);
    static constexpr std::size_t small_run = 8;
    // Sorts the run's ends of one time by the habit's order.
    void order_ties();
    // Puts the ends of the run back in the buckets.
    void unrun();
    // Leaves the run empty, its ends taken or filed: every end added from
    // now on goes to the buckets.
    void empty_run() {
        run_.clear();
        head_ = 0;
        filed_after_ = base_;
    }
    // Takes a bucket's list out, leaving it empty.
    list take_bucket(std::size_t bucket);
    // The nodes of a list, in its order, onto moving_.
    void gather(const list& from);
    // Whether the end at `a` comes before the one at `b` of the same time.
    bool before_in_order(std::uint32_t a, std::uint32_t b) const { return pool_[a].end.order < pool_[b].end.order; }

    // Marked ends, soonest first by time and place, in a heap: they are few.
    std::vector<pending_end> marked_;
    // The unmarked ends: a radix heap with a level of 256 buckets for each
    // byte of a time. An end waits in the level of the highest byte in
    // which its time differs from the base, in the bucket of that byte's
    // value, so that each bucket's ends come before those of the buckets
    // after it; the base is at most the time of the event being written,
    // as no end is added before that. When the run is taken, the first
    // bucket that holds ends becomes the next: sorted whole if it is small,
    // else filed again around its least time as the new base, into the
    // levels below. An end is filed once or twice and sorted among a few
    // dozen, where a heap thousands of notes deep compares and moves at
    // each of a dozen steps.
    std::vector<node> pool_;
    std::uint32_t free_ = none;  // a list of the nodes not in use, ended by none
    // Apart from the queue itself, so that an assembler on a small stack
    // (WebAssembly's) does not hold its 48 KiB.
    std::vector<bucket_ends> buckets_ = std::vector<bucket_ends>(buckets);
    std::array<std::uint64_t, buckets / 64> filled_{};  // a bit for each bucket that holds ends
    std::uint32_t words_filled_ = 0;                    // a bit for each word of filled_ not 0
    // The earliest ends, sorted by time and the habit's order, from head_
    // on: all come before those in the buckets.
    std::vector<std::uint64_t> run_;
    std::vector<std::uint64_t> dealt_;  // the run dealt by time, swapped in
    std::size_t head_ = 0;
    std::int64_t base_ = 0;
    // The last time of the run, or the base when it is empty: an end after
    // it goes to the buckets, which is all but certain.
    std::int64_t filed_after_ = 0;
    std::size_t count_ = 0;
    std::vector<std::uint32_t> moving_;  // ends filed again around an earlier base
    pending_end taken_;
    std::int64_t group_time_ = -1;
    std::int32_t group_count_ = 0;
    std::int64_t due_ = none_due;
};

}  // namespace smfasm::score
