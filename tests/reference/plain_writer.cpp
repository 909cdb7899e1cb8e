// The writer operations in their plainest form: one fprintf per item with
// the listing's own format strings, no buffering of our own, no caches.
// Linked in place of writer/ into smfdis_plain, whose listings the tests
// compare byte for byte with the real program's.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "state/state.h"
#include "state/stop.h"
#include "writer/output.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

struct format_set {
    const char* formats[7];
};
const format_set short_set = {{"On ch=%d n=%s v=%d\n", "Off ch=%d n=%s v=%d\n", "PoPr ch=%d n=%s v=%d\n",
                               "Par ch=%d c=%d v=%d\n", "Pb ch=%d v=%d\n", "PrCh ch=%d p=%d\n", "ChPr ch=%d v=%d\n"}};
const format_set long_set = {{"On ch=%d note=%s vol=%d\n", "Off ch=%d note=%s vol=%d\n",
                              "PolyPr ch=%d note=%s val=%d\n", "Param ch=%d con=%d val=%d\n", "Pb ch=%d val=%d\n",
                              "ProgCh ch=%d prog=%d\n", "ChanPr ch=%d val=%d\n"}};
const char* const names[12] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
const char* const text_names[9] = {"", "Text", "Copyright", "TrkName", "InstrName", "Lyric", "Marker", "Cue", "Unrec"};

const char* format(int slot) {
    return (state.channel_formats == &long_channel_formats ? long_set : short_set).formats[slot];
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void note(int slot, int channel, int number, int value) {
    write_time();
    std::fprintf(state.output, format(slot), channel + 1, note_text(number), value);
}
void two(int slot, int channel, int a, int b) {
    write_time();
    std::fprintf(state.output, format(slot), channel + 1, a, b);
}
void one(int slot, int channel, int a) {
    write_time();
    std::fprintf(state.output, format(slot), channel + 1, a);
}
#pragma GCC diagnostic pop

}  // namespace

// The output layer has nothing of its own to hold here.
bool output_flush() { return state.output == nullptr || std::ferror(state.output) == 0; }
bool output_finish() {
    return state.output == nullptr || (std::fflush(state.output) == 0 && !std::ferror(state.output));
}
void output_reset() {}
int output_write_error() { return errno; }

void write_time() {
    if (state.measure_mode == 0 || state.ticks_per_beat == 0 || state.beats_per_measure == 0) {
        std::fprintf(state.output, "%ld ", static_cast<long>(state.current_time));
        return;
    }
    const std::int32_t t = wrap_sub(state.current_time, state.last_time_sig_time);
    const std::int32_t beats = t / state.ticks_per_beat;
    std::fprintf(state.output, "%ld:%ld:%ld ",
                 static_cast<long>(wrap_add(beats / state.beats_per_measure, state.measure_offset)),
                 static_cast<long>(beats % state.beats_per_measure), static_cast<long>(t % state.ticks_per_beat));
}

const char* note_text(int number) {
    static char text[32];
    if (state.note_names == 0)
        std::snprintf(text, sizeof text, "%d", number);
    else
        std::snprintf(text, sizeof text, "%s%d", names[number % 12], number / 12);
    return text;
}

void on_header(int format_number, int track_count, int division) {
    if (division & 0x8000) {
        state.measure_mode = 0;
        std::fprintf(state.output, "MFile %d %d %d %d\n", format_number, track_count,
                     static_cast<int>(static_cast<signed char>(division >> 8)), division & 0xFF);
    } else {
        std::fprintf(state.output, "MFile %d %d %d\n", format_number, track_count, division);
    }
    if (format_number > 2) {
        std::fprintf(stderr, "Can't deal with format %d files\n", format_number);
        stop_conversion(1);
    }
    state.tracks_started = 0;
    state.tracks_remaining = track_count;
    state.division = state.ticks_per_beat = division;
    state.beats_per_measure = 4;
    state.measure_offset = state.last_time_sig_time = 0;
}

void on_track_start() {
    std::fputs("MTrk\n", state.output);
    ++state.tracks_started;
}
void on_track_end() {
    std::fputs("TrkEnd\n", state.output);
    --state.tracks_remaining;
}

void on_note_on(int c, int n, int v) { note(0, c, n, v); }
void on_note_off(int c, int n, int v) { note(1, c, n, v); }
void on_poly_pressure(int c, int n, int v) { note(2, c, n, v); }
void on_controller(int c, int n, int v) { two(3, c, n, v); }
void on_pitch_bend(int c, int low, int high) { one(4, c, low + high * 128); }
void on_program(int c, int p) { one(5, c, p); }
void on_channel_pressure(int c, int v) { one(6, c, v); }

void write_quoted(const unsigned char* data, std::int32_t length) {
    long long column = 25;
    std::fputc('"', state.output);
    for (std::int32_t i = 0; i < length; ++i) {
        const int b = data[i];
        if (state.fold_width != 0 && column >= state.fold_width) {
            std::fputs("\\\n\t", state.output);
            column = 13;
            if (b == ' ') {
                std::fputc('\\', state.output);
                column = 14;
            }
        }
        if (b == 0) {
            std::fputs("\\0", state.output);
            column += 2;
        } else if (b == '\n') {
            std::fputs("\\n", state.output);
            column += 2;
        } else if (b == '\r') {
            std::fputs("\\r", state.output);
            column += 2;
        } else if (b == '"' || b == '\\') {
            std::fprintf(state.output, "\\%c", b);
            column += 2;
        } else if (std::isprint(b)) {
            std::fputc(b, state.output);
            column += 1;
        } else {
            std::fprintf(state.output, "\\x%02x", b);
            column += 4;
        }
    }
    std::fputs("\"\n", state.output);
}

void write_hex(const unsigned char* data, std::int32_t length) {
    long long column = 25;
    for (std::int32_t i = 0; i < length; ++i) {
        if (state.fold_width != 0 && column >= state.fold_width) {
            std::fprintf(state.output, "\\\n\t%02x", data[i]);
            column = 14;
        } else {
            std::fprintf(state.output, " %02x", data[i]);
            column += 3;
        }
    }
    std::fputc('\n', state.output);
}

void on_sysex(std::int32_t length, const unsigned char* data) {
    write_time();
    std::fputs("SysEx", state.output);
    write_hex(data, length);
}
void on_arbitrary(std::int32_t length, const unsigned char* data) {
    write_time();
    std::fputs("Arb", state.output);
    write_hex(data, length);
}
void on_sequencer_specific(std::int32_t length, const unsigned char* data) {
    write_time();
    std::fputs("SeqSpec", state.output);
    write_hex(data, length);
}
void on_meta_other(int type, std::int32_t length, const unsigned char* data) {
    write_time();
    std::fprintf(state.output, "Meta 0x%02x", type);
    write_hex(data, length);
}
void on_meta_text(int type, std::int32_t length, const unsigned char* data) {
    write_time();
    if (type < 1 || type > 8)
        std::fprintf(state.output, "Meta 0x%02x ", type);
    else if (type == 3 && state.tracks_started == 1)
        std::fputs("Meta SeqName ", state.output);
    else
        std::fprintf(state.output, "Meta %s ", text_names[type]);
    write_quoted(data, length);
}

void on_sequence_number(int number) {
    write_time();
    std::fprintf(state.output, "SeqNr %d\n", number);
}
void on_end_of_track() {
    write_time();
    std::fputs("Meta TrkEnd\n", state.output);
}
void on_tempo(std::int32_t tempo) {
    write_time();
    std::fprintf(state.output, "Tempo %ld\n", static_cast<long>(tempo));
}
void on_smpte(int h, int m, int s, int f, int ff) {
    write_time();
    std::fprintf(state.output, "SMPTE %d %d %d %d %d\n", h, m, s, f, ff);
}
void on_key_signature(int accidentals, int mode) {
    write_time();
    std::fprintf(state.output, "KeySig %d %s\n", accidentals > 127 ? accidentals - 256 : accidentals,
                 mode ? "minor" : "major");
}

void on_time_signature(int numerator, int exponent, int clocks, int thirty_seconds) {
    std::uint32_t denominator = 1;
    for (int i = 0; i < exponent; ++i) denominator *= 2;
    const auto signed_denominator = static_cast<std::int32_t>(denominator);
    write_time();
    std::fprintf(state.output, "TimeSig %d/%d %d %d\n", numerator, signed_denominator, clocks, thirty_seconds);
    const std::int32_t per_measure = state.ticks_per_beat * state.beats_per_measure;
    if (per_measure != 0)
        state.measure_offset =
            wrap_add(state.measure_offset, wrap_sub(state.current_time, state.last_time_sig_time) / per_measure);
    state.last_time_sig_time = state.current_time;
    state.beats_per_measure = numerator;
    state.ticks_per_beat = signed_denominator > 0 ? state.division * 4 / signed_denominator : 0;
}

// The reference writes the tick form only; the reader reaches these only
// in the score form.
score::track_record& score_held_track() {
    static score::track_record unused;
    return unused;
}
void on_score_meta(int, std::int32_t, const unsigned char*) {}
void score_listing_cut() {}

}  // namespace smfasm
