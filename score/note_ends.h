// Where the assembler puts the ends of the notes still sounding: the one
// rule the lister's marks are measured against. At each tick the ends come
// before the tick's other events, in the order their notes began (or its
// reverse, by the track's habit); an end with a mark takes the place at its
// tick that the mark gives.
#pragma once

#include <algorithm>
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
    int velocity = 0;
    int status_mark = 0;  // as track_event::mark
    bool marked() const { return position != std::numeric_limits<std::int32_t>::max(); }
};

class note_ends {
public:
    // What the queue keeps of an unmarked end in its heap: with the bytes
    // that a plain end writes, so that writing it needs no look at the rest,
    // stored apart (with ten thousand notes sounding, each look would be a
    // miss of the cache).
    struct end_key {
        std::int64_t time;
        std::uint32_t stored;  // in stored_: no song holds 2^32 notes sounding at once
        std::uint8_t status;
        std::uint8_t key;
        std::uint8_t velocity;
        bool plain;  // no status mark, and a key below 128
    };

    void clear() {
        marked_.clear();
        unmarked_.clear();
        tied_.clear();
        stored_.clear();
        free_.clear();
        group_time_ = -1;
        group_count_ = 0;
        due_ = none_due;
    }
    bool empty() const { return marked_.empty() && unmarked_.empty() && tied_.empty(); }
    std::size_t size() const { return marked_.size() + unmarked_.size() + tied_.size(); }
    // The earliest end's time; only when not empty.
    std::int64_t first_time() const {
        std::int64_t time = none_due;
        if (!marked_.empty()) time = marked_.front().time;
        if (!unmarked_.empty()) time = std::min(time, unmarked_.front().time);
        if (!tied_.empty()) time = std::min(time, tied_time_);
        return time;
    }
    // The earliest end's time, or the largest time when none is pending:
    // one compare tells an event that no end comes before it.
    std::int64_t due() const { return due_; }
    void add(const pending_end& end);

    // Every event written at `time`, explicit or an end, is counted here,
    // so that marks can say "the third event of its tick".
    void written(std::int64_t time) {
        // Without a branch: whether an event shares the tick before is as
        // hard to foresee as the music.
        group_count_ = (time == group_time_ ? group_count_ : 0) + 1;
        group_time_ = time;
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
    // The next end before an event at `time`, if there is one, while
    // unmarked_only_by(time).
    bool next_unmarked_before(std::int64_t time, end_key& taken) {
        if (due_ > time) return false;
        taken = take_unmarked();
        free_.push_back(taken.stored);
        due_ = std::min(unmarked_time(), marked_.empty() ? none_due : marked_.front().time);
        return true;
    }
    // All of a taken end, until the next add.
    const pending_end& stored(const end_key& taken) const { return stored_[taken.stored]; }

private:
    static constexpr std::int64_t none_due = std::numeric_limits<std::int64_t>::max();
    void find_due() { due_ = empty() ? none_due : first_time(); }
    std::int32_t count_at(std::int64_t time) const { return time == group_time_ ? group_count_ : 0; }
    // The end the rule writes next at the first pending tick; `whole`: the
    // tick has no more events of its own, so marked ends come in turn.
    const pending_end* take_at_first_tick(bool whole);
    // The earliest unmarked end's time, or none_due.
    std::int64_t unmarked_time() const {
        if (!tied_.empty()) return tied_time_;
        return unmarked_.empty() ? none_due : unmarked_.front().time;
    }
    // Takes the earliest unmarked end out, by time and then the habit's
    // order.
    end_key take_unmarked();
    // Gives the heap back the ends that share a tick (an end added before
    // them, which only a listing that goes back in time can do).
    void untie();

    // Two heaps, soonest first: marked ends by time and place, the others
    // by time alone. A song may hold thousands of notes sounding at once,
    // so neither is kept sorted. Nearly every end is unmarked: that heap
    // holds only their times and where the ends are stored, so that each
    // of its many moves and compares is small. Ends that share their tick
    // are few: once the earliest tick has more than one, they are all
    // taken out of the heap into tied_, sorted by the habit's order.
    using unmarked_key = end_key;
    struct tied_end {
        std::int64_t order;
        end_key key;
    };
    // The unmarked heap's own: four children to a key, so that a key goes
    // half as many steps, each of which compares times held side by side.
    static constexpr std::size_t arity = 4;
    void push_unmarked(unmarked_key key);
    // Takes the earliest key out of the unmarked heap.
    void pop_unmarked();

    std::vector<pending_end> marked_;
    std::vector<unmarked_key> unmarked_;
    std::vector<tied_end> tied_;  // the latest in the habit's order first
    std::int64_t tied_time_ = 0;
    std::vector<pending_end> stored_;
    std::vector<std::size_t> free_;  // places in stored_ to use again
    pending_end taken_;
    std::int64_t group_time_ = -1;
    std::int32_t group_count_ = 0;
    std::int64_t due_ = none_due;
};

}  // namespace smfasm::score
