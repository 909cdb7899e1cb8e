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

// Bars, beats and ticks within a beat are 32-bit for any time a file can
// reach in 32-bit steps of a positive division.
void set_prefix() {
    if (beat.bar_size != 0 && beat.text_bar + 1 == beat.place.bar && beat.place.bar > 0) {
        // The next bar, as a reader going on meets it: its text counted on
        // in place, carrying over the nines.
        std::size_t i = beat.bar_size - 1;
        while (i > 0 && beat.prefix[i - 1] == '9') beat.prefix[--i] = '0';
        if (i > 0) {
            ++beat.prefix[i - 1];
        } else {
            std::memmove(beat.prefix + 1, beat.prefix, beat.bar_size);
            beat.prefix[0] = '1';
            ++beat.bar_size;
        }
        beat.text_bar = beat.place.bar;
    } else if (beat.bar_size == 0 || beat.text_bar != beat.place.bar) {
        char* q = format_int(beat.prefix, static_cast<std::int32_t>(beat.place.bar));
        *q++ = ':';
        beat.bar_size = static_cast<std::size_t>(q - beat.prefix);
        beat.text_bar = beat.place.bar;
    }
    char* q = beat.place.beat < 1000
                  ? format_below_1000(beat.prefix + beat.bar_size, static_cast<std::uint32_t>(beat.place.beat))
                  : format_int(beat.prefix + beat.bar_size, static_cast<std::int32_t>(beat.place.beat));
    *q++ = ':';
    beat.size = static_cast<std::size_t>(q - beat.prefix);
}

}  // namespace

score::metre_map& score_metre() { return metre; }

void forget_score_beat() {
    beat.place.span = 0;
    beat.quick_span = 0;
    beat.bar_size = 0;
}

char* score_time_detail::put_time_slowly(char* p, std::int64_t time) {
    const bool placed = beat.place.count_on(time) || metre.find_beat(time, beat.place);
    beat.quick_span = std::min<std::uint64_t>(beat.place.span, 1000);
    if (!placed) {
        p = std::to_chars(p, p + 24, time).ptr;
        *p = ' ';
        return p + 1;
    }
    set_prefix();
    std::memcpy(p, beat.prefix, sizeof beat.prefix);
    const std::int64_t tick = time - beat.place.begin;
    p = tick < 1000 ? format_below_1000(p + beat.size, static_cast<std::uint32_t>(tick))
                    : format_int(p + beat.size, static_cast<std::int32_t>(tick));
    *p = ' ';
    return p + 1;
}

}  // namespace smfasm
