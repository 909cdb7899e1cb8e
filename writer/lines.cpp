// Time column, header, track and channel lines.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "state/keywords.h"
#include "state/state.h"
#include "state/stop.h"
#include "state/tables.h"
#include "writer/output.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

// Events come in time order, so most fall in the beat of the event before.
// The "measure:beat:" text of that beat is kept, with what it was computed
// from, so that such an event costs one copy and a subtraction instead of
// two divisions by variable divisors.
struct beat_cache {
    // The measure fields the text was computed from.
    std::int32_t last_time_sig_time = 0;
    std::int32_t ticks_per_beat = 0;
    std::int32_t beats_per_measure = 0;
    std::int32_t measure_offset = 0;
    // The beat spans t from begin (inclusive) to end (exclusive); empty
    // until a beat at t >= 0 has been computed.
    std::int32_t begin = 0;
    std::int32_t end = 0;
    std::uint32_t span = 0;  // end - begin, 0 while the range is empty
    // The beat's number within its measure, and where its text starts.
    std::int32_t index = 0;
    std::size_t measure_size = 0;
    char prefix[32] = {};
    std::size_t prefix_size = 0;
};
beat_cache beat;

bool metre_matches() {
    return beat.last_time_sig_time == state.last_time_sig_time && beat.ticks_per_beat == state.ticks_per_beat &&
           beat.beats_per_measure == state.beats_per_measure && beat.measure_offset == state.measure_offset;
}

bool beat_matches(std::int32_t t) { return t >= beat.begin && t < beat.end && metre_matches(); }

// Moves the kept beat on to the next one of its measure when t falls there,
// as it does every few events: only the beat's digits change, with no
// division and no measure to format.
bool next_beat(std::int32_t t) {
    if (beat.end <= beat.begin || t < beat.end || wrap_sub(t, beat.end) >= beat.ticks_per_beat || !metre_matches())
        return false;
    const std::int32_t index = beat.index + 1;
    if (index >= beat.beats_per_measure) return false;
    char* q = format_int(beat.prefix + beat.measure_size, index);
    *q++ = ':';
    beat.prefix_size = static_cast<std::size_t>(q - beat.prefix);
    beat.index = index;
    beat.begin = beat.end;
    beat.end = wrap_add(beat.end, beat.ticks_per_beat);
    beat.span = beat.end > beat.begin ? static_cast<std::uint32_t>(beat.end - beat.begin) : 0;
    return true;
}

// Computes the beat holding t into the cache; the range stays empty for a
// negative t, whose remainders keep the dividend's sign.
void compute_beat(std::int32_t t) {
    const std::int32_t per_beat = state.ticks_per_beat;
    const std::int32_t per_measure = state.beats_per_measure;
    // Both divisors are positive here, so no quotient can overflow.
    const std::int32_t beats = t / per_beat;
    char* q = format_int(beat.prefix, wrap_add(beats / per_measure, state.measure_offset));
    *q++ = ':';
    beat.measure_size = static_cast<std::size_t>(q - beat.prefix);
    beat.index = beats % per_measure;
    q = format_int(q, beat.index);
    *q++ = ':';
    beat.prefix_size = static_cast<std::size_t>(q - beat.prefix);
    beat.last_time_sig_time = state.last_time_sig_time;
    beat.ticks_per_beat = per_beat;
    beat.beats_per_measure = per_measure;
    beat.measure_offset = state.measure_offset;
    beat.begin = t - t % per_beat;
    beat.end = t < 0 ? beat.begin : wrap_add(beat.begin, per_beat);
    beat.span = beat.end > beat.begin ? static_cast<std::uint32_t>(beat.end - beat.begin) : 0;
}

// In ticks, the time is the widest number of nearly every line, and the
// times of a track grow slowly: the digits above the last four are kept as
// text, and a line formats only its last four digits (no carry to follow,
// whatever the step between events).
struct tick_prefix {
    std::uint32_t base = 0;  // the time the text stands for, a multiple of 10000; 0: none
    char text[16] = {};
    std::size_t size = 0;
};
tick_prefix ticks;

void refresh_tick_prefix(std::uint32_t time) {
    const std::uint32_t high = time / 10000;
    ticks.base = high * 10000;
    ticks.size = static_cast<std::size_t>(format_int(ticks.text, static_cast<std::int32_t>(high)) - ticks.text);
}

bool tick_column() {
    // Without a usable metre (division 0, numerator 0, or a denominator too
    // large for the division) the measure column falls back to ticks.
    return state.measure_mode == 0 || state.ticks_per_beat == 0 || state.beats_per_measure == 0;
}

// The time column when what it needs is kept: the tick prefix is current,
// or the time falls in the kept beat. Makes no call, so that the channel
// lines' common path stays a leaf; returns null otherwise.
inline char* quick_time(char* p) {
    const std::int32_t time = state.current_time;
    if (state.measure_mode != 0) {
        // A beat is only kept under a usable metre: when it matches, this is
        // the measure column.
        const auto into_beat =
            static_cast<std::uint32_t>(wrap_sub(wrap_sub(time, state.last_time_sig_time), beat.begin));
        if (into_beat < beat.span && into_beat < 1000 && metre_matches()) {
            std::memcpy(p, beat.prefix, sizeof beat.prefix);
            p = format_below_1000(p + beat.prefix_size, into_beat);
            *p = ' ';
            return p + 1;
        }
        if (!tick_column()) return nullptr;
    }
    if (time >= 10000) {
        const std::uint32_t low = static_cast<std::uint32_t>(time) - ticks.base;
        if (low >= 10000) return nullptr;
        std::memcpy(p, ticks.text, sizeof ticks.text);
        p = format_4(p + ticks.size, low);
    } else if (time >= 0) {
        p = format_below_10000(p, static_cast<std::uint32_t>(time));
    } else {
        return nullptr;
    }
    *p = ' ';
    return p + 1;
}

// Any time column: brings the kept text up to date first.
[[gnu::noinline]] char* format_time(char* p) {
    const std::int32_t time = state.current_time;
    if (tick_column()) {
        if (time < 0) {
            p = format_int(p, time);
            *p = ' ';
            return p + 1;
        }
        if (static_cast<std::uint32_t>(time) - ticks.base >= 10000)
            refresh_tick_prefix(static_cast<std::uint32_t>(time));
        return quick_time(p);
    }
    const std::int32_t t = wrap_sub(time, state.last_time_sig_time);
    if (!beat_matches(t) && !next_beat(t)) compute_beat(t);
    std::memcpy(p, beat.prefix, sizeof beat.prefix);
    p = format_int(p + beat.prefix_size, t - beat.begin);
    *p = ' ';
    return p + 1;
}

}  // namespace

void write_time() {
    char* p = output_line(line_reserve);
    output_commit(state.score_form != 0 ? format_score_time(p) : format_time(p));
}

const char* note_text(int note) {
    static char text[16];
    char* end = text;
    if (state.note_names != 0) {
        const std::string_view name = note_names[static_cast<unsigned>(note) % 12].view();
        end = std::copy(name.begin(), name.end(), end);
        note /= 12;
    }
    *format_int(end, note) = '\0';
    return text;
}

void on_header(int format, int track_count, int division) {
    output_reserve(line_reserve);
    put_text(keyword::header);
    put_char(' ');
    put_int(format);
    put_char(' ');
    put_int(track_count);
    put_char(' ');
    if ((division & 0x8000) != 0) {
        // SMPTE time has no beats to count measures in.
        state.measure_mode = 0;
        put_int(static_cast<signed char>((division >> 8) & 0xFF));
        put_char(' ');
        put_int(division & 0xFF);
    } else {
        put_int(division);
    }
    if (state.score_form != 0) {
        put_char(' ');
        put_text(keyword::score);
    }
    put_char('\n');
    if (format > 2) {
        std::fprintf(state.messages, "Can't deal with format %d files\n", format);
        stop_conversion(1);
    }
    state.tracks_started = 0;
    state.tracks_remaining = track_count;
    state.division = division;
    state.ticks_per_beat = division;
    state.beats_per_measure = 4;
    state.measure_offset = 0;
    state.last_time_sig_time = 0;
    if (state.score_form != 0) score_header(format, division);
}

void on_track_start() {
    if (state.score_form != 0) {
        state.tracks_started = wrap_add(state.tracks_started, 1);
        return score_track_start();
    }
    output_reserve(line_reserve);
    put_text(keyword::track_start);
    put_char('\n');
    state.tracks_started = wrap_add(state.tracks_started, 1);
}

void on_track_end() {
    if (state.score_form != 0) {
        score_track_end();
    } else {
        output_reserve(line_reserve);
        put_text(keyword::track_end);
        put_char('\n');
    }
    state.tracks_remaining = wrap_sub(state.tracks_remaining, 1);
}

namespace {

// A channel line is written by a body that takes the line after its time
// column. Its common case (room in the buffer, the time column's text kept)
// is a leaf, with no call for which registers would be saved on every line;
// everything else tail-calls the general path, which may flush and format.
template <auto Body, class... Values>
[[gnu::noinline]] void general_line(Values... values) {
    output_commit(Body(format_time(output_line(line_reserve)), values...));
}

template <auto Body, class... Values>
[[gnu::always_inline]] inline void channel_event(Values... values) {
    char* p = output_has_room(line_reserve) ? quick_time(output_detail::cursor) : nullptr;
    if (p == nullptr) return general_line<Body>(values...);
    output_commit(Body(p, values...));
}

// Keyword, channel and the first value's label: "On ch=1 n=".
inline char* channel_start(char* p, channel_slot which, int channel) {
    return copy_fixed(p, state.channel_formats->starts[which][static_cast<unsigned>(channel)]);
}

inline const channel_format& slot(channel_slot which) { return state.channel_formats->slots[which]; }

inline char* end_line(char* p) {
    *p = '\n';
    return p + 1;
}

inline char* byte_line(char* p, channel_slot which, int channel, int value) {
    return end_line(format_byte(channel_start(p, which, channel), value));
}

inline char* two_byte_line(char* p, channel_slot which, int channel, int first, int second) {
    p = format_byte(channel_start(p, which, channel), first);
    return end_line(format_byte(copy_fixed(p, slot(which).third), second));
}

inline char* note_line(char* p, channel_slot which, int channel, int note, int value) {
    p = channel_start(p, which, channel);
    p = state.note_names != 0 ? copy_fixed(p, named_notes[static_cast<unsigned>(note) & 0xFF]) : format_byte(p, note);
    return end_line(format_byte(copy_fixed(p, slot(which).third), value));
}

// The line looks right and assembles to other bytes: counted, and the first
// kept for the caller's warning.
[[gnu::cold]] [[gnu::noinline]] void note_inexact_bend(int low) {
    inexact_bend_t& seen = state.inexact_bend;
    if (seen.count++ == 0) seen = {1, state.tracks_started, state.current_time, low};
}

inline char* pitch_bend_line(char* p, int channel, int low, int high) {
    if (low > 0x7F) [[unlikely]]
        note_inexact_bend(low);
    const auto value = static_cast<std::uint32_t>(low + high * 128);
    return end_line(format_below_100000(channel_start(p, slot_pitch_bend, channel), value));
}

}  // namespace

void on_note_on(int channel, int note, int velocity) {
    channel_event<note_line>(slot_note_on, channel, note, velocity);
}
void on_note_off(int channel, int note, int velocity) {
    channel_event<note_line>(slot_note_off, channel, note, velocity);
}
void on_poly_pressure(int channel, int note, int value) {
    channel_event<note_line>(slot_poly_pressure, channel, note, value);
}
void on_controller(int channel, int controller, int value) {
    channel_event<two_byte_line>(slot_controller, channel, controller, value);
}
void on_program(int channel, int program) { channel_event<byte_line>(slot_program, channel, program); }
void on_channel_pressure(int channel, int value) { channel_event<byte_line>(slot_channel_pressure, channel, value); }
void on_pitch_bend(int channel, int low, int high) { channel_event<pitch_bend_line>(channel, low, high); }

}  // namespace smfasm
