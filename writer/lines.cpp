// Time column, header, track and channel lines.
#include <algorithm>
#include <cstdio>

#include "app/exit.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"
#include "writer/writer.h"

namespace midi2mtx {

void write_time() {
    const std::int32_t per_beat = state.ticks_per_beat;
    const std::int32_t per_measure = state.beats_per_measure;
    // Without a usable metre (division 0, numerator 0, or a denominator too
    // large for the division) the column falls back to ticks.
    if (state.measure_mode == 0 || per_beat == 0 || per_measure == 0) {
        put_int(state.current_time);
        put_char(' ');
        return;
    }
    // Both divisors are positive here, so no quotient can overflow.
    const std::int32_t t = wrap_sub(state.current_time, state.last_time_sig_time);
    const std::int32_t beats = t / per_beat;
    put_int(wrap_add(beats / per_measure, state.measure_offset));
    put_char(':');
    put_int(beats % per_measure);
    put_char(':');
    put_int(t % per_beat);
    put_char(' ');
}

const char* note_text(int note) {
    static char text[16];
    char* end = text;
    if (state.note_names != 0) {
        const std::string_view name = note_names[static_cast<unsigned>(note) % 12];
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

const channel_format& slot(channel_slot which) { return state.channel_formats->slots[which]; }

void channel_line(channel_slot which, int channel, int value) {
    const channel_format& format = slot(which);
    output_reserve(line_reserve);
    write_time();
    put_text(format.head);
    put_int(channel + 1);
    put_text(format.second);
    put_int(value);
    put_char('\n');
}

void channel_line(channel_slot which, int channel, int first, int second) {
    const channel_format& format = slot(which);
    output_reserve(line_reserve);
    write_time();
    put_text(format.head);
    put_int(channel + 1);
    put_text(format.second);
    put_int(first);
    put_text(format.third);
    put_int(second);
    put_char('\n');
}

void note_line(channel_slot which, int channel, int note, int value) {
    const channel_format& format = slot(which);
    output_reserve(line_reserve);
    write_time();
    put_text(format.head);
    put_int(channel + 1);
    put_text(format.second);
    put_text(note_text(note));
    put_text(format.third);
    put_int(value);
    put_char('\n');
}

}  // namespace

void on_note_on(int channel, int note, int velocity) { note_line(slot_note_on, channel, note, velocity); }
void on_note_off(int channel, int note, int velocity) { note_line(slot_note_off, channel, note, velocity); }
void on_poly_pressure(int channel, int note, int value) {
    note_line(slot_poly_pressure, channel, note, value);
}
void on_controller(int channel, int controller, int value) {
    channel_line(slot_controller, channel, controller, value);
}
void on_program(int channel, int program) { channel_line(slot_program, channel, program); }
void on_channel_pressure(int channel, int value) { channel_line(slot_channel_pressure, channel, value); }
void on_pitch_bend(int channel, int low, int high) { channel_line(slot_pitch_bend, channel, low + high * 128); }

}  // namespace midi2mtx
