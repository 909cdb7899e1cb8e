// The score form's time column: bar:beat:tick from the song's metre map,
// or the tick where the metre places no bars. Lines come in time order, so
// most fall in the beat of the line before: its "bar:beat:" text is kept
// with the ticks it spans, and the beats after it are reached by counting
// on rather than dividing.
#pragma once

#include <cstdint>
#include <cstring>

#include "score/metre_map.h"
#include "writer/output.h"

namespace smfasm {

namespace score_time_detail {
struct kept_beat {
    score::beat_span place;
    // The ticks into the beat that the quick path writes: all of them, up
    // to the thousand its table holds.
    std::uint64_t quick_span = 0;
    char prefix[32] = {};
    std::size_t size = 0;
    std::int64_t text_bar = 0;  // the bar the "bar:" text at the prefix's start is of, which the beats of a bar share
    std::size_t bar_size = 0;
};
extern kept_beat beat;
char* put_time_slowly(char* p, std::int64_t time);
}  // namespace score_time_detail

// The metre map the column is written from. Whoever changes it must call
// forget_score_beat.
score::metre_map& score_metre();
void forget_score_beat();

// Writes the column at `p` (a line's room reserved), space included.
inline char* put_score_time(char* p, std::int64_t time) {
    using score_time_detail::beat;
    const auto into = static_cast<std::uint64_t>(time - beat.place.begin);
    if (into < beat.quick_span) {
        std::memcpy(p, beat.prefix, sizeof beat.prefix);
        p = format_below_1000(p + beat.size, static_cast<std::uint32_t>(into));
        *p = ' ';
        return p + 1;
    }
    return score_time_detail::put_time_slowly(p, time);
}

}  // namespace smfasm
