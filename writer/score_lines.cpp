// The score form's lines: each track is held whole (a note's length is
// known only at its end), paired into notes and measured against its
// habits, then written with bar:beat:tick times from the song's metre map.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "score/metre_map.h"
#include "score/note_values.h"
#include "score/track.h"
#include "state/keywords.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"
#include "writer/score_texts.h"
#include "writer/score_time.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

using score::event_type;
using score::track_event;
using score_texts::line_texts;
using score_texts::long_line_texts;
using score_texts::note_line_texts;
using score_texts::note_texts_of;
using score_texts::short_line_texts;

struct score_listing {
    score::track_record track;
    int format = 0;
    int division = 0;
    bool holding = false;        // inside a track chunk
    std::int64_t line_time = 0;  // the time write_time() writes
};
score_listing score_state;

// Notes of a song have few lengths: the last one's text is kept.
struct length_text {
    std::int64_t ticks = -1;
    padded_text<32> text;
};
length_text last_length;

void put_int64(std::int64_t value) {
    char* p = output_detail::cursor;
    p = std::to_chars(p, p + 24, value).ptr;
    output_commit(p);
}

track_event& hold(event_type type, int status) { return score_state.track.add_other(type, status); }

void hold_payload(track_event& e, std::int32_t length, const unsigned char* data) {
    std::vector<unsigned char>& payload = score_state.track.payload;
    e.payload = static_cast<std::uint32_t>(payload.size());
    e.length = length;
    payload.insert(payload.end(), data, data + length);
}

// The conductor track (the first) places the bars of every track, except
// in format 2, where each track has its own.
bool moves_metre() { return score_state.format == 2 || state.tracks_started == 1; }

void put_field(std::string_view word, std::int64_t value) {
    put_char(' ');
    put_text(word);
    put_char('=');
    put_int64(value);
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

// A data byte with its top bit set, which only a malformed file holds.
bool has_top_bit(const track_event& e, const track_event* end) {
    const channel_slot slot = score::slot_of_status(e.status);
    // A pitch bend is read back as one number, split anew: only a value
    // that two data bytes cannot hold, or a first byte that the split would
    // not give back, needs the mark.
    if (slot == slot_pitch_bend) return e.first >= 0x80 || e.first + e.second * 128 > 16383;
    const bool two = slot != slot_program && slot != slot_channel_pressure;
    return e.first >= 0x80 || (two && e.second >= 0x80) || (end != nullptr && end->second >= 0x80);
}

// A Note's end where it breaks the track's habit: " end=" and its velocity, or "on".
char* put_end_kind(char* p, int kind) {
    constexpr std::string_view word = " end=";
    p = std::copy(word.begin(), word.end(), p);
    if (kind == score::end_by_note_on)
        return std::copy(score::habit_word::end_on.begin(), score::habit_word::end_on.end(), p);
    return format_byte(p, kind);
}

// The rare fields after a channel line's values and a Note's end: marks.
[[gnu::noinline]] char* put_marks(char* p, const track_event& e, const track_event* end,
                                  const score::track_habits& habits) {
    const score::status_mark mark = score::mark_of(e, habits);
    const auto field = [&p](std::string_view word, std::int64_t value) {
        *p++ = ' ';
        p = std::copy(word.begin(), word.end(), p);
        *p++ = '=';
        p = std::to_chars(p, p + 24, value).ptr;
    };
    if (end != nullptr && e.end_position >= 0) field(score::habit_word::end_position, e.end_position);
    if (mark != score::status_as_rule) field(score::habit_word::status, mark == score::status_written ? 1 : 0);
    if (end != nullptr) {
        if (const score::status_mark end_mark = score::mark_of(*end, habits); end_mark != score::status_as_rule) {
            field(score::habit_word::end_status, end_mark == score::status_written ? 1 : 0);
        }
    }
    if (e.first >= 0x80 && score::slot_of_status(e.status) == slot_pitch_bend) field(score::habit_word::low, e.first);
    if (has_top_bit(e, end)) field(score::habit_word::raw, 1);
    return p;
}

// A Note's length: a note value where one fits, else its ticks. Notes of a
// song have few values: the last one's text is kept.
char* put_length(char* p, std::int64_t ticks) {
    constexpr std::string_view word = " len=";
    const std::int64_t division = score_state.division;
    // Past a dotted whole note (and in an SMPTE file) only ticks.
    if (ticks <= 0 || ticks > 6 * division) {
        p = std::copy(word.begin(), word.end(), p);
        // Long notes' ticks run to six digits and more: four at a time.
        if (ticks >= 10000 && ticks < 100000000) {
            return format_4(format_below_10000(p, static_cast<std::uint32_t>(ticks / 10000)),
                            static_cast<std::uint32_t>(ticks % 10000));
        }
        if (ticks >= 0 && ticks <= INT32_MAX) return format_int(p, static_cast<std::int32_t>(ticks));
        return std::to_chars(p, p + 24, ticks).ptr;
    }
    length_text& kept = last_length;
    if (kept.ticks != ticks) {
        kept.ticks = ticks;
        kept.text = padded_text<32>{};
        kept.text.append(word);
        const std::string value = score::note_value_text(ticks, score_state.division);
        if (!value.empty()) {
            kept.text.append(value);
        } else {
            char digits[24];
            kept.text.append(std::string_view(
                digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, ticks).ptr - digits)));
        }
    }
    return copy_fixed(p, kept.text);
}

// The values of a controller, pitch bend, program or pressure line.
char* put_other_values(char* p, const track_event& e, channel_slot slot) {
    switch (slot) {
        case slot_pitch_bend: return format_below_100000(p, e.first + e.second * 128u);
        case slot_program:
        case slot_channel_pressure: return format_byte(p, e.first);
        default: break;
    }
    return format_byte(copy_fixed(format_byte(p, e.first), state.channel_formats->slots[slot].third), e.second);
}

// The commonest lines of the score form: a channel event's, or a Note's
// with its end's length, at `p` (a line's room reserved). Only a line with
// a mark or a data byte of 128 or more takes put_marks.
char* write_channel(char* p, const track_event& e, const track_event* events, const line_texts& texts,
                    note_line_texts& note_texts, const score::track_habits& habits,
                    const score::status_mark_table& marks) {
    const unsigned status = e.status;
    p = put_score_time(p, e.time);
    const bool start = (e.status_case & score::status_case::start) != 0;
    if (status < 0xB0) {
        const std::size_t row = start ? note_line_texts::note_row + (status & 0x0Fu) : status - 0x80u;
        p = format_byte(copy_fixed(p, note_texts.of(row, e.first)), e.second);
    } else {
        p = put_other_values(copy_fixed(p, texts.starts[status - 0x80]), e,
                             score::slot_of_status(static_cast<int>(status)));
    }
    bool marked = marks[e.status_case] != score::status_as_rule || ((e.first | e.second) & 0x80u) != 0;
    const track_event* end = nullptr;
    if (start) {
        end = &events[static_cast<std::size_t>(e.partner)];
        p = put_length(p, end->time - e.time);
        if (const int kind = score::end_kind(*end); kind != habits.end_velocity) p = put_end_kind(p, kind);
        marked = marked || marks[end->status_case] != score::status_as_rule || (end->second & 0x80u) != 0 ||
                 e.end_position >= 0;
    }
    if (marked) p = put_marks(p, e, end, habits);
    *p++ = '\n';
    return p;
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
                if (moves_metre()) {
                    score_metre().add_time_signature(e.time, data[0], data[1]);
                    forget_score_beat();
                }
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
    const track_event* events = s.track.events.data();
    const score::status_mark_table marks = score::status_marks(habits);
    const line_texts& texts = state.channel_formats == &long_channel_formats ? long_line_texts : short_line_texts;
    note_line_texts& note_texts = note_texts_of(texts);
    const track_event* const last = events + s.track.events.size();
    for (const track_event* at = events; at != last; ++at) {
        if (at->type == event_type::channel) {
            // A run of channel lines through one local pointer; a paired
            // end has no line of its own.
            char* p = output_line(line_reserve);
            for (; at != last && at->type == event_type::channel; ++at) {
                if ((at->status_case & score::status_case::end) != 0) continue;
                p = write_channel(output_line_after(p, line_reserve), *at, events, texts, note_texts, habits, marks);
            }
            output_commit(p);
            if (at == last) break;
        }
        const track_event& e = *at;
        s.line_time = e.time;
        const unsigned char* data = s.track.payload.data() + e.payload;
        switch (e.type) {
            case event_type::channel: break;
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
    score_metre().reset(s.division);
    forget_score_beat();
    s.track.clear();
    s.holding = false;
    last_length.ticks = -1;  // its text depends on the division
}

void score_track_start() {
    score_listing& s = score_state;
    if (s.format == 2) {
        score_metre().reset(s.division);
        forget_score_beat();
    }
    s.track.clear();
    // Room for the events the chunk can hold (at least two bytes each, most
    // three or four), so that holding them copies none again; only up to
    // what a real track needs, since the chunk's length is the file's word,
    // not what it holds.
    constexpr std::size_t most_reserved = std::size_t{1} << 18;
    if (state.chunk_remaining > 0) {
        s.track.events.reserve(std::min(static_cast<std::size_t>(state.chunk_remaining) / 3, most_reserved));
    }
    s.holding = true;
}

void score_track_end() { write_held_track(true); }

void score_listing_cut() {
    if (state.score_form != 0 && score_state.holding) write_held_track(false);
}

score::track_record& score_held_track() { return score_state.track; }

void on_score_meta(int type, std::int32_t length, const unsigned char* data) {
    hold_payload(hold(event_type::meta, type), length, data);
}

void score_hold_sysex(bool arbitrary, std::int32_t length, const unsigned char* data) {
    hold_payload(hold(arbitrary ? event_type::arbitrary : event_type::sysex, 0), length, data);
}

char* format_score_time(char* p) { return put_score_time(p, score_state.line_time); }

}  // namespace smfasm
