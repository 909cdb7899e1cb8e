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
    void clear() {
        marked_.clear();
        unmarked_.clear();
        stored_.clear();
        free_.clear();
        group_time_ = -1;
        group_count_ = 0;
        due_ = none_due;
    }
    bool empty() const { return marked_.empty() && unmarked_.empty(); }
    std::size_t size() const { return marked_.size() + unmarked_.size(); }
    // The earliest end's time; only when not empty.
    std::int64_t first_time() const {
        if (marked_.empty()) return unmarked_.front().time;
        if (unmarked_.empty()) return marked_.front().time;
        return std::min(marked_.front().time, unmarked_.front().time);
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

private:
    static constexpr std::int64_t none_due = std::numeric_limits<std::int64_t>::max();
    void find_due() { due_ = empty() ? none_due : first_time(); }
    std::int32_t count_at(std::int64_t time) const { return time == group_time_ ? group_count_ : 0; }
    // The end the rule writes next at the first pending tick; `whole`: the
    // tick has no more events of its own, so marked ends come in turn.
    const pending_end* take_at_first_tick(bool whole);
    // Takes the earliest unmarked end's key out of its heap.
    void pop_unmarked();

    // Two heaps, soonest first: marked ends by time and place, the others
    // by time and the habit's order. A song may hold thousands of notes
    // sounding at once, so neither is kept sorted. Nearly every end is
    // unmarked: that heap holds only its keys and where the end is stored,
    // so that each of its many moves is small.
    struct unmarked_key {
        std::int64_t time;
        std::int64_t order;
        std::size_t stored;  // in stored_
    };
    std::vector<pending_end> marked_;
    std::vector<unmarked_key> unmarked_;
    std::vector<pending_end> stored_;
    std::vector<std::size_t> free_;  // places in stored_ to use again
    pending_end taken_;
    std::int64_t group_time_ = -1;
    std::int32_t group_count_ = 0;
    std::int64_t due_ = none_due;
};

}  // namespace smfasm::score
