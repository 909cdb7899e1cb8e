// Meta events with decoded values, and the time-signature arithmetic.
#include <cstdint>

#include "state/keywords.h"
#include "state/state.h"
#include "writer/output.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

// write_time leaves a line's room, which covers every value line.
void begin_line(std::string_view word) {
    write_time();
    put_text(word);
}

}  // namespace

void on_sequence_number(int number) {
    begin_line(keyword::sequence_number);
    put_char(' ');
    put_int(number);
    put_char('\n');
}

void on_end_of_track() {
    begin_line(keyword::meta);
    put_char(' ');
    put_text(keyword::end_of_track);
    put_char('\n');
}

void on_tempo(std::int32_t tempo) {
    begin_line(keyword::tempo);
    put_char(' ');
    put_int(tempo);
    put_char('\n');
}

void on_smpte(int hours, int minutes, int seconds, int frames, int fraction) {
    begin_line(keyword::smpte);
    for (const int value : {hours, minutes, seconds, frames, fraction}) {
        put_char(' ');
        put_int(value);
    }
    put_char('\n');
}

void on_time_signature(int numerator, int exponent, int clocks, int thirty_seconds) {
    // Doubling in wrapping 32-bit arithmetic: exponent 31 gives INT32_MIN,
    // 32 and above give 0.
    const std::int32_t denominator =
        exponent >= 0 && exponent < 32 ? static_cast<std::int32_t>(std::uint32_t{1} << exponent) : 0;

    begin_line(keyword::time_signature);
    put_char(' ');
    put_int(numerator);
    put_char('/');
    put_int(denominator);
    put_char(' ');
    put_int(clocks);
    put_char(' ');
    put_int(thirty_seconds);
    put_char('\n');

    // Whole measures completed under the previous signature; both factors are
    // small and non-negative, so the product cannot overflow.
    const std::int32_t ticks_per_measure = state.ticks_per_beat * state.beats_per_measure;
    if (ticks_per_measure != 0) {
        const std::int32_t elapsed = wrap_sub(state.current_time, state.last_time_sig_time);
        state.measure_offset = wrap_add(state.measure_offset, elapsed / ticks_per_measure);
    }
    state.last_time_sig_time = state.current_time;
    state.beats_per_measure = numerator;
    state.ticks_per_beat = denominator > 0 ? state.division * 4 / denominator : 0;
}

void on_key_signature(int accidentals, int mode) {
    begin_line(keyword::key_signature);
    put_char(' ');
    put_int(static_cast<signed char>(accidentals & 0xFF));
    put_char(' ');
    put_text(mode != 0 ? keyword::minor : keyword::major);
    put_char('\n');
}

}  // namespace smfasm
