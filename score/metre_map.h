// The score form's metre map: where each bar starts, for the whole song.
// The lister and the assembler both build it from the same TimeSig events
// in the same order, so that bar:beat:tick reads back as the tick it was
// written for.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace smfasm::score {

// A stretch of the song under one time signature. Bars and beats count
// from 1; a signature that falls inside a bar starts a new bar there.
struct metre_segment {
    std::int64_t start = 0;      // absolute tick
    std::int64_t first_bar = 1;  // the bar that starts at `start`
    std::int32_t ticks_per_beat = 0;
    std::int32_t beats_per_bar = 0;

    // A metre whose beat is shorter than a tick, or with no beats, places
    // no bars: times in it are written in ticks.
    bool usable() const { return ticks_per_beat > 0 && beats_per_bar > 0; }
    std::int64_t ticks_per_bar() const { return std::int64_t{ticks_per_beat} * beats_per_bar; }
};

// The bars under one metre segment, as a reader going bar by bar needs
// them: a time in them is found with no search and no division.
struct bar_run {
    std::int64_t first_bar = 1;
    std::int64_t end_bar = 1;  // the first bar after the run; none when equal
    std::int64_t start = 0;    // the tick where first_bar starts
    std::int64_t ticks_per_bar = 0;
    std::int32_t ticks_per_beat = 0;
    std::int32_t beats_per_bar = 0;
    // Where the next segment starts, cutting its bar short; or the largest time.
    std::int64_t next_start = 0;

    // The tick where `beat` of `bar`, a bar of the run, starts.
    std::int64_t beat_start(std::int64_t bar, std::int64_t beat) const {
        return start + (bar - first_bar) * ticks_per_bar + (beat - 1) * ticks_per_beat;
    }
};

struct bar_time {
    std::int64_t bar = 0;
    std::int64_t beat = 0;
    std::int64_t tick = 0;
};

// One beat, as a reader going forward in time keeps it: most times fall in
// the beat of the time before, and the beats after it are counted on to
// rather than divided for.
struct beat_span {
    std::int64_t begin = 0;
    std::uint64_t span = 0;  // the ticks it lasts, cut short by a following segment; 0 while none is kept
    std::int64_t bar = 0;
    std::int64_t beat = 0;
    std::int64_t ticks_per_beat = 0;
    std::int64_t beats_per_bar = 0;
    std::int64_t segment_end = 0;  // where the next segment starts

    bool holds(std::int64_t time) const { return static_cast<std::uint64_t>(time - begin) < span; }
    bar_time at(std::int64_t time) const { return {bar, beat, time - begin}; }

    // Moves on to the beat holding `time` where that is a later beat in the
    // same segment (lines come in time order, and most that leave a beat
    // stay in its segment); false where it is not, for the map to find.
    // Inline: the lister's time column calls it whenever a line leaves
    // its beat.
    bool count_on(std::int64_t time) {
        if (span == 0 || time < begin) return false;
        const std::int64_t beats_on = (time - begin) / ticks_per_beat;
        const std::int64_t from = begin + beats_on * ticks_per_beat;
        // A signature that cuts the beat short ends it.
        const std::int64_t lasts = std::min(ticks_per_beat, segment_end - from);
        if (time - from >= lasts) return false;
        // Bars run whole within a segment.
        const std::int64_t index = beat - 1 + beats_on;
        begin = from;
        span = static_cast<std::uint64_t>(lasts);
        bar += index / beats_per_bar;
        beat = index % beats_per_bar + 1;
        return true;
    }
};

class metre_map {
public:
    // SMPTE files (division with its top bit set) and division 0 have no
    // beats: every time stays in ticks.
    void reset(int division);
    bool has_bars() const { return division_ > 0; }

    // A TimeSig event at `time`, as numerator and the power of two of the
    // denominator. Times must not go backwards; the caller keeps them in
    // order.
    void add_time_signature(std::int64_t time, int numerator, int exponent);

    // The segment holding `time` (the last one starting at or before it).
    const metre_segment* segment_at(std::int64_t time) const;
    // The segment holding `bar` (the last one starting at or before it).
    const metre_segment* segment_of_bar(std::int64_t bar) const;
    // The segment after `s`, or null.
    const metre_segment* next(const metre_segment* s) const {
        return s + 1 < segments_.data() + segments_.size() ? s + 1 : nullptr;
    }

    // The run of bars holding `bar`, as segment_of_bar finds it. Readers
    // go bar by bar, so the last run is kept and a bar in it costs two
    // compares; it is found again after any change to the map.
    const bar_run& run_of_bar(std::int64_t bar) const {
        if (bar >= run_.first_bar && bar < run_.end_bar) return run_;
        return find_run(bar);
    }

    // False when the time is to be written in ticks.
    bool to_bars(std::int64_t time, bar_time& out) const;

    // Moves `kept` (of this map as it stands; none after any change) to the
    // beat holding `time`; false, and none kept, when the time is to be
    // written in ticks.
    bool find_beat(std::int64_t time, beat_span& kept) const;

    // Changes with every change of the map, so that a caller can keep what
    // it worked out from it.
    std::uint32_t version() const { return version_; }

private:
    std::uint32_t version_ = 0;
    int division_ = 0;
    std::vector<metre_segment> segments_;
    // Events come in time order: the last lookup's segment is tried first.
    mutable std::size_t cursor_ = 0;
    const bar_run& find_run(std::int64_t bar) const;
    mutable bar_run run_;
};

}  // namespace smfasm::score
