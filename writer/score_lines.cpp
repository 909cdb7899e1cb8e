// The score form's lines: each track is held whole (a note's length is
// known only at its end), paired into notes and measured against its
// habits, then written with bar:beat:tick times from the song's metre map.
#include <charconv>
#include <cstdint>
#include <string>

#include "score/metre_map.h"
#include "score/note_values.h"
#include "score/track.h"
#include "state/keywords.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

using score::event_type;
using score::track_event;

struct score_listing {
    score::track_record track;
    score::metre_map metre;
    int format = 0;
    int division = 0;
    bool holding = false;  // inside a track chunk
    // The track's time so far, without the 32-bit wrap of the tick column.
    std::int64_t time = 0;
    std::int32_t last_current_time = 0;
    std::int64_t line_time = 0;  // the time write_time() writes
};
score_listing score_state;

void put_int64(std::int64_t value) {
    char* p = output_detail::cursor;
    p = std::to_chars(p, p + 24, value).ptr;
    output_commit(p);
}

// The time since the last event, as the reader keeps it in 32 bits.
std::int64_t held_time() {
    score_listing& s = score_state;
    s.time += static_cast<std::uint32_t>(wrap_sub(state.current_time, s.last_current_time));
    s.last_current_time = state.current_time;
    return s.time;
}

track_event& hold(event_type type, int status) {
    track_event& e = score_state.track.events.emplace_back();
    e.time = held_time();
    e.type = type;
    e.status = static_cast<std::uint8_t>(status);
    return e;
}

void hold_payload(track_event& e, std::int32_t length, const unsigned char* data) {
    std::vector<unsigned char>& payload = score_state.track.payload;
    e.payload = static_cast<std::uint32_t>(payload.size());
    e.length = length;
    payload.insert(payload.end(), data, data + length);
}

// The conductor track (the first) places the bars of every track, except
// in format 2, where each track has its own.
bool moves_metre() { return score_state.format == 2 || state.tracks_started == 1; }

void put_note(int note) {
    put_text(note_names[static_cast<unsigned>(note) % 12].view());
    put_int(note / 12);
}

void put_field(std::string_view word, std::int64_t value) {
    put_char(' ');
    put_text(word);
    put_char('=');
    put_int64(value);
}

void put_status_mark(std::string_view word, score::status_mark mark) {
    if (mark != score::status_as_rule) put_field(word, mark == score::status_written ? 1 : 0);
}

void put_end_kind(int kind) {
    put_char(' ');
    put_text(score::habit_word::end);
    put_char('=');
    if (kind == score::end_by_note_on) {
        put_text(score::habit_word::end_on);
    } else {
        put_int(kind);
    }
}

void put_track_start(const score::track_habits& habits) {
    output_reserve(line_reserve);
    put_text(keyword::track_start);
    const score::track_habits usual;
    if (habits.end_velocity != usual.end_velocity) put_end_kind(habits.end_velocity);
    if (habits.running != usual.running) {
        put_char(' ');
        put_text(score::habit_word::running);
        put_char('=');
        if (habits.running == 0) put_text(score::habit_word::none);
        bool first = true;
        for (std::size_t slot = 0; slot < channel_slot_count; ++slot) {
            if (((habits.running >> slot) & 1u) == 0) continue;
            if (!first) put_char(',');
            first = false;
            put_text(keyword::channel_slot_names[slot]);
        }
    }
    if (habits.carry != usual.carry) put_field(score::habit_word::carry, 1);
    if (habits.reverse != usual.reverse) {
        put_char(' ');
        put_text(score::habit_word::order);
        put_char('=');
        put_text(score::habit_word::order_last);
    }
    put_char('\n');
}

void write_channel(const track_event& e, const score::track_habits& habits) {
    const std::vector<track_event>& events = score_state.track.events;
    write_time();
    const channel_slot slot = score::slot_of_status(e.status);
    const channel_format& format = state.channel_formats->slots[slot];
    const int channel = e.status & 0x0F;
    if (e.is_start()) {
        put_text(keyword::note);
        put_text(" ch=");
    } else {
        put_text(format.head.view());
    }
    put_int(channel + 1);
    put_text(format.second.view());
    switch (slot) {
        case slot_note_on:
        case slot_note_off:
        case slot_poly_pressure: put_note(e.first); break;
        case slot_pitch_bend: put_int(e.first + e.second * 128); break;
        default: put_int(e.first); break;
    }
    if (!format.third.view().empty()) {
        put_text(format.third.view());
        put_int(e.second);
    }
    if (e.is_start()) {
        const track_event& end = events[static_cast<std::size_t>(e.partner)];
        const std::int64_t length = end.time - e.time;
        const std::string value = score::note_value_text(length, score_state.division);
        put_char(' ');
        put_text(score::habit_word::length);
        put_char('=');
        if (value.empty()) {
            put_int64(length);
        } else {
            put_text(value);
        }
        if (score::end_kind(end) != habits.end_velocity) put_end_kind(score::end_kind(end));
        if (e.end_position >= 0) put_field(score::habit_word::end_position, e.end_position);
        put_status_mark(score::habit_word::status, e.mark);
        put_status_mark(score::habit_word::end_status, end.mark);
    } else {
        put_status_mark(score::habit_word::status, e.mark);
    }
    put_char('\n');
}

void write_tempo(std::int32_t per_quarter) {
    write_time();
    put_text(keyword::tempo);
    put_char(' ');
    const std::string bpm = score::bpm_text(per_quarter);
    if (!bpm.empty()) {
        put_text(bpm);
        put_text("bpm\n");
        return;
    }
    put_int(per_quarter);
    const std::string comment = score::bpm_comment(per_quarter);
    if (!comment.empty()) {
        put_text("  # ");
        put_text(comment);
        put_text(" bpm");
    }
    put_char('\n');
}

// A meta event whose bytes its named line gives back is written by name;
// any other (a 2-byte Tempo, a KeySig mode of 2) as its type and bytes.
void write_meta(const track_event& e) {
    const unsigned char* data = score_state.track.payload.data() + e.payload;
    const std::int32_t length = e.length;
    const int type = e.status;
    const auto fits = [length](std::int32_t size) { return length == size; };
    switch (type) {
        case meta_type::sequence_number:
            if (fits(2)) return on_sequence_number(data[0] * 256 + data[1]);
            break;
        case meta_type::end_of_track:
            if (fits(0)) return on_end_of_track();
            break;
        case meta_type::tempo:
            if (fits(3)) return write_tempo(data[0] * 65536 + data[1] * 256 + data[2]);
            break;
        case meta_type::smpte:
            if (fits(5)) return on_smpte(data[0], data[1], data[2], data[3], data[4]);
            break;
        case meta_type::time_signature:
            if (fits(4) && data[1] <= 32) {
                on_time_signature(data[0], data[1], data[2], data[3]);
                if (moves_metre()) score_state.metre.add_time_signature(e.time, data[0], data[1]);
                return;
            }
            break;
        case meta_type::key_signature:
            if (fits(2) && data[1] <= 1) return on_key_signature(data[0], data[1]);
            break;
        case meta_type::sequencer_specific: return on_sequencer_specific(length, data);
        default:
            if (type >= 0x01 && type <= 0x0F) return on_meta_text(type, length, data);
            break;
    }
    on_meta_other(type, length, data);
}

void write_held_track(bool complete) {
    score_listing& s = score_state;
    const score::track_habits habits = score::analyse_track(s.track);
    put_track_start(habits);
    for (const track_event& e : s.track.events) {
        if (e.is_end()) continue;
        s.line_time = e.time;
        const unsigned char* data = s.track.payload.data() + e.payload;
        switch (e.type) {
            case event_type::channel: write_channel(e, habits); break;
            case event_type::sysex: write_sysex_line(e.length, data); break;
            case event_type::arbitrary: write_arbitrary_line(e.length, data); break;
            case event_type::meta: write_meta(e); break;
        }
    }
    s.track.clear();
    s.holding = false;
    if (complete) {
        output_reserve(line_reserve);
        put_text(keyword::track_end);
        put_char('\n');
    }
}

}  // namespace

void score_header(int format, int division) {
    score_listing& s = score_state;
    s.format = format;
    s.division = (division & 0x8000) != 0 ? 0 : division;
    s.metre.reset(s.division);
    s.track.clear();
    s.holding = false;
}

void score_track_start() {
    score_listing& s = score_state;
    if (s.format == 2) s.metre.reset(s.division);
    s.track.clear();
    s.holding = true;
    s.time = 0;
    s.last_current_time = 0;
}

void score_track_end() { write_held_track(true); }

void score_listing_cut() {
    if (state.score_form != 0 && score_state.holding) write_held_track(false);
}

void on_score_channel(int status, int first, int second) {
    track_event& e = hold(event_type::channel, status);
    e.first = static_cast<std::uint8_t>(first);
    e.second = static_cast<std::uint8_t>(second);
    e.running = state.status_left_out != 0;
}

void on_score_meta(int type, std::int32_t length, const unsigned char* data) {
    hold_payload(hold(event_type::meta, type), length, data);
}

void score_hold_sysex(bool arbitrary, std::int32_t length, const unsigned char* data) {
    hold_payload(hold(arbitrary ? event_type::arbitrary : event_type::sysex, 0), length, data);
}

char* format_score_time(char* p) {
    const std::int64_t time = score_state.line_time;
    score::bar_time bars;
    if (score_state.metre.to_bars(time, bars)) {
        // Bars, beats and ticks within a beat are 32-bit for any time a
        // file can reach in 32-bit steps of a positive division.
        p = format_int(p, static_cast<std::int32_t>(bars.bar));
        *p++ = ':';
        p = format_int(p, static_cast<std::int32_t>(bars.beat));
        *p++ = ':';
        p = format_int(p, static_cast<std::int32_t>(bars.tick));
    } else {
        p = std::to_chars(p, p + 24, time).ptr;
    }
    *p = ' ';
    return p + 1;
}

}  // namespace smfasm
