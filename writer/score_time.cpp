#include "writer/score_time.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace smfasm {

namespace score_time_detail {
kept_beat beat;
}  // namespace score_time_detail

namespace {

score::metre_map metre;

using score_time_detail::beat;

// Beats up to this many after the kept one are counted on to; a time
// further on is divided for.
constexpr std::int64_t most_counted = 4;

// Bars, beats and ticks within a beat are 32-bit for any time a file can
// reach in 32-bit steps of a positive division.
void set_bar_prefix() {
    char* q = format_int(beat.prefix, static_cast<std::int32_t>(beat.bar));
    *q++ = ':';
    beat.bar_size = static_cast<std::size_t>(q - beat.prefix);
}

void set_prefix() {
    char* q = format_int(beat.prefix + beat.bar_size, static_cast<std::int32_t>(beat.beat));
    *q++ = ':';
    beat.size = static_cast<std::size_t>(q - beat.prefix);
    // A signature that cuts the beat short ends it.
    beat.span = static_cast<std::uint64_t>(std::min(beat.ticks_per_beat, beat.segment_end - beat.begin));
}

// Keeps the beat holding `time`; false where the metre places no bars.
bool find_beat(std::int64_t time) {
    if (beat.span != 0 && time >= beat.begin && time < beat.segment_end) {
        std::int64_t begin = beat.begin;
        std::int64_t bar = beat.bar;
        std::int64_t number = beat.beat;
        for (std::int64_t k = 0; k < most_counted && time - begin >= beat.ticks_per_beat; ++k) {
            begin += beat.ticks_per_beat;
            if (++number > beat.beats_per_bar) {
                number = 1;
                ++bar;
            }
        }
        if (time - begin < beat.ticks_per_beat) {
            beat.begin = begin;
            beat.beat = number;
            if (bar != beat.bar) {
                beat.bar = bar;
                set_bar_prefix();
            }
            set_prefix();
            return true;
        }
    }
    score::bar_time bars;
    if (!metre.to_bars(time, bars)) return false;
    const score::metre_segment* segment = metre.segment_at(time);
    const score::metre_segment* next = metre.next(segment);
    beat.begin = time - bars.tick;
    beat.bar = bars.bar;
    beat.beat = bars.beat;
    beat.ticks_per_beat = segment->ticks_per_beat;
    beat.beats_per_bar = segment->beats_per_bar;
    beat.segment_end = next != nullptr ? next->start : std::numeric_limits<std::int64_t>::max();
    set_bar_prefix();
    set_prefix();
    return true;
}

}  // namespace

score::metre_map& score_metre() { return metre; }

void forget_score_beat() { beat.span = 0; }

char* score_time_detail::put_time_slowly(char* p, std::int64_t time) {
    if (!find_beat(time)) {
        beat.span = 0;
        p = std::to_chars(p, p + 24, time).ptr;
        *p = ' ';
        return p + 1;
    }
    std::memcpy(p, beat.prefix, sizeof beat.prefix);
    p = format_int(p + beat.size, static_cast<std::int32_t>(time - beat.begin));
    *p = ' ';
    return p + 1;
}

}  // namespace smfasm
