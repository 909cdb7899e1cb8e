// Time column, header, track and channel lines.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/exit.h"
#include "state/state.h"
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
    char prefix[32] = {};
    std::size_t prefix_size = 0;
};
beat_cache beat;

bool beat_matches(std::int32_t t) {
    return t >= beat.begin && t < beat.end && beat.last_time_sig_time == state.last_time_sig_time &&
           beat.ticks_per_beat == state.ticks_per_beat && beat.beats_per_measure == state.beats_per_measure &&
           beat.measure_offset == state.measure_offset;
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
    q = format_int(q, beats % per_measure);
    *q++ = ':';
    beat.prefix_size = static_cast<std::size_t>(q - beat.prefix);
    beat.last_time_sig_time = state.last_time_sig_time;
    beat.ticks_per_beat = per_beat;
    beat.beats_per_measure = per_measure;
    beat.measure_offset = state.measure_offset;
    beat.begin = t - t % per_beat;
    beat.end = t < 0 ? beat.begin : wrap_add(beat.begin, per_beat);
}

// In ticks, successive events of a track mostly lie a few ticks apart: the
// text of the last time is kept and moved on by the difference, which
// usually changes only its last two digits. Those two are written into the
// line from the number `low` and never into the kept text: a narrow store
// read back by the wide copy would stall the copy.
struct tick_cache {
    std::int32_t value = 0;  // the time kept; below 100 nothing is kept
    std::int32_t low = 0;    // value % 100
    char text[16] = {};      // its digits, the last two possibly stale
    std::size_t size = 0;
};
tick_cache ticks;

char* format_ticks(char* p, std::int32_t time) {
    const auto step = static_cast<std::uint32_t>(wrap_sub(time, ticks.value));
    // (A step that wraps past the largest time leaves a small time.)
    bool kept = ticks.value >= 100 && step < 100 && time >= 100;
    if (kept) {
        ticks.low += static_cast<std::int32_t>(step);
        if (ticks.low >= 100) {
            ticks.low -= 100;
            char* digit = ticks.text + ticks.size - 3;
            while (digit >= ticks.text && *digit == '9') *digit-- = '0';
            // A carry past the first digit needs a longer text: start anew.
            if (digit >= ticks.text)
                ++*digit;
            else
                kept = false;
        }
    }
    if (!kept) {
        if (time < 100) {
            ticks.value = 0;
            return format_int(p, time);
        }
        ticks.low = time % 100;
        ticks.size = static_cast<std::size_t>(format_int(ticks.text, time) - ticks.text);
    }
    ticks.value = time;
    std::memcpy(p, ticks.text, sizeof ticks.text);
    p += ticks.size;
    std::memcpy(p - 2, &output_detail::digit_pairs[static_cast<std::size_t>(ticks.low) * 2], 2);
    return p;
}

// The measure column, kept out of line so that the tick column inlines
// into every line writer.
[[gnu::noinline]] char* format_measure_time(char* p) {
    const std::int32_t t = wrap_sub(state.current_time, state.last_time_sig_time);
    if (!beat_matches(t)) compute_beat(t);
    std::memcpy(p, beat.prefix, sizeof beat.prefix);
    p = format_int(p + beat.prefix_size, t - beat.begin);
    *p = ' ';
    return p + 1;
}

inline char* format_time(char* p) {
    // Without a usable metre (division 0, numerator 0, or a denominator too
    // large for the division) the column falls back to ticks.
    if (state.measure_mode == 0 || state.ticks_per_beat == 0 || state.beats_per_measure == 0) {
        p = format_ticks(p, state.current_time);
        *p = ' ';
        return p + 1;
    }
    return format_measure_time(p);
}

}  // namespace

void write_time() { output_commit(format_time(output_line(line_reserve))); }

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
    put_text("MFile ");
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
    put_char('\n');
    if (format > 2) {
        std::fprintf(stderr, "Can't deal with format %d files\n", format);
        pause_and_exit(1);
    }
    state.tracks_started = 0;
    state.tracks_remaining = track_count;
    state.division = division;
    state.ticks_per_beat = division;
    state.beats_per_measure = 4;
    state.measure_offset = 0;
    state.last_time_sig_time = 0;
}

void on_track_start() {
    output_reserve(line_reserve);
    put_text("MTrk\n");
    state.tracks_started = wrap_add(state.tracks_started, 1);
}

void on_track_end() {
    output_reserve(line_reserve);
    put_text("TrkEnd\n");
    state.tracks_remaining = wrap_sub(state.tracks_remaining, 1);
}

namespace {

// Time column, keyword, channel and the first value's label: the common
// start of every channel line.
[[gnu::always_inline]] inline char* channel_start(channel_slot which, int channel) {
    char* p = format_time(output_line(line_reserve));
    return copy_fixed(p, state.channel_formats->starts[which][static_cast<unsigned>(channel)]);
}

const channel_format& slot(channel_slot which) { return state.channel_formats->slots[which]; }

void channel_line(channel_slot which, int channel, int value) {
    char* p = format_int(channel_start(which, channel), value);
    *p = '\n';
    output_commit(p + 1);
}

void channel_line(channel_slot which, int channel, int first, int second) {
    char* p = format_int(channel_start(which, channel), first);
    p = format_int(copy_fixed(p, slot(which).third), second);
    *p = '\n';
    output_commit(p + 1);
}

void note_line(channel_slot which, int channel, int note, int value) {
    const channel_format& format = slot(which);
    char* p = channel_start(which, channel);
    // Spelled out rather than through note_text, which would cost a strlen
    // on the commonest line of all.
    if (state.note_names != 0) {
        p = copy_fixed(p, note_names[static_cast<unsigned>(note) % 12]);
        note /= 12;
    }
    p = format_int(copy_fixed(format_int(p, note), format.third), value);
    *p = '\n';
    output_commit(p + 1);
}

}  // namespace

void on_note_on(int channel, int note, int velocity) { note_line(slot_note_on, channel, note, velocity); }
void on_note_off(int channel, int note, int velocity) { note_line(slot_note_off, channel, note, velocity); }
void on_poly_pressure(int channel, int note, int value) { note_line(slot_poly_pressure, channel, note, value); }
void on_controller(int channel, int controller, int value) {
    channel_line(slot_controller, channel, controller, value);
}
void on_program(int channel, int program) { channel_line(slot_program, channel, program); }
void on_channel_pressure(int channel, int value) { channel_line(slot_channel_pressure, channel, value); }
void on_pitch_bend(int channel, int low, int high) { channel_line(slot_pitch_bend, channel, low + high * 128); }

}  // namespace smfasm
