// The score form's lines: the MFile line's mark, the habits on each MTrk
// line, bar:beat:tick times from the song's metre map, Note lines with
// their lengths, the marks that keep a file's byte habits, and the ends of
// the notes still sounding, written where the one placement rule puts them.
#include <cstdint>
#include <string>
#include <string_view>

#include "asm/assembly.h"
#include "asm/quick_fields.h"
#include "score/note_values.h"
#include "state/keywords.h"

namespace smfasm::assembly {

namespace {

using namespace std::string_literals;

// "key=" at the cursor: the key, with the cursor behind the "=".
std::string_view field_key(field_cursor& c) {
    const char* start = c.position();
    const std::string_view key = c.word();
    if (key.empty() || !c.looking_at("=")) field_cursor::fail(start, "expected a key=value field");
    c.expect("=", "=");
    return key;
}

int status_value(field_cursor& c) { return c.number(0, 1, "the status mark (0 or 1)") == 1 ? 1 : 2; }

}  // namespace

void assembler::score_header(field_cursor& c) {
    if (c.at_end()) return;
    const char* start = c.position();
    if (c.word() != keyword::score) field_cursor::fail(start, "expected the end of the line, or \"score\"");
    score_ = true;
}

void assembler::score_note_values() {
    for (std::size_t over = 0; over < note_value_ticks_.size(); ++over) {
        for (std::size_t form = 0; form < 3; ++form) {
            // Read by the general reader's own reading, so that both agree.
            const std::string text = "1/" + std::to_string(over) + (form == 0 ? "" : form == 1 ? "." : "t");
            std::int64_t ticks = 0;
            const int read = score::read_note_value(text, metre_.smpte ? 0 : metre_.division, ticks);
            note_value_ticks_[over][form] =
                read == static_cast<int>(text.size()) && ticks <= INT32_MAX ? static_cast<std::int32_t>(ticks) : -1;
        }
    }
}

void assembler::score_track_start(field_cursor& c) {
    habits_ = score::track_habits{};
    ends_.clear();
    running_status_ = 0;
    channel_status_ = 0;
    written_time_ = 0;
    notes_begun_ = 0;
    if (format_ == 2 && tracks_ > 0) score_metre_.reset(metre_.smpte ? 0 : metre_.division);
    while (!c.at_end()) {
        const char* start = c.position();
        const std::string_view key = field_key(c);
        const char* value_at = c.position();
        if (key == score::habit_word::end) {
            if (c.looking_at(score::habit_word::end_on)) {
                c.word();
                habits_.end_velocity = score::end_by_note_on;
            } else if (static_cast<unsigned>(*c.position() - '0') < 10) {
                habits_.end_velocity = static_cast<int>(c.number(0, 255, "the velocity of note-offs"));
            } else {
                field_cursor::fail(value_at,
                                   "expected end=on (notes end by note-on at velocity 0) or end=N (by "
                                   "note-off at velocity N)");
            }
        } else if (key == score::habit_word::running) {
            habits_.running = 0;
            if (c.looking_at(score::habit_word::all)) {
                c.word();
                habits_.running = (1u << channel_slot_count) - 1;
            } else if (c.looking_at(score::habit_word::none)) {
                c.word();
            } else {
                for (;;) {
                    const char* word_at = c.position();
                    const std::string_view name = c.word();
                    std::size_t slot = 0;
                    while (slot < channel_slot_count && keyword::channel_slot_names[slot] != name) ++slot;
                    if (slot == channel_slot_count) {
                        field_cursor::fail(word_at, "expected all, none or channel keywords such as On,Off,Par");
                    }
                    habits_.running |= 1u << slot;
                    if (!c.looking_at(",")) break;
                    c.expect(",", ",");
                }
            }
        } else if (key == score::habit_word::carry) {
            habits_.carry = c.number(0, 1, "carry (0 or 1)") == 1;
        } else if (key == score::habit_word::order) {
            const std::string_view order = c.word();
            if (order != score::habit_word::order_first && order != score::habit_word::order_last) {
                field_cursor::fail(value_at, "expected order=first or order=last");
            }
            habits_.reverse = order == score::habit_word::order_last;
        } else {
            field_cursor::fail(start, "unknown track habit \""s + std::string(key) + "\" (end, running, carry, order)");
        }
    }
}

void assembler::score_track_end() {
    while (const score::pending_end* end = ends_.next_any()) put_end(*end);
}

std::int64_t assembler::score_time(field_cursor& c, const char*& at) {
    at = c.position();
    {
        // The lister's bar:beat:tick, in a beat of its bar before the metre
        // changes, read as the quick reader reads its lines; anything else
        // below, which warns where a listing is probably wrong.
        const char* q = at;
        const std::int64_t bar = quick::long_number(q, 10);
        if (bar >= 1 && bar <= INT32_MAX && *q == ':') {
            ++q;
            const std::int64_t beat = quick::number(q, 3);
            const char* tick_at = q + 1;
            const std::int64_t tick = beat >= 1 && *q == ':' ? quick::number(tick_at, 6) : -1;
            // Bars with no beats fail these too.
            const score::bar_run& run = score_metre_.run_of_bar(bar);
            if (tick >= 0 && beat <= run.beats_per_bar && tick < run.ticks_per_beat) {
                const std::int64_t time = run.beat_start(bar, beat) + tick;
                if (time < run.next_start) {
                    c.skip_to(tick_at);
                    return time;
                }
            }
        }
    }
    const std::int64_t first = c.number(0, std::int64_t{1} << 50, "the time");
    if (!c.looking_at(":")) return first;
    c.expect(":", ":");
    const char* beat_at = c.position();
    const std::int64_t beat = c.number(0, INT32_MAX, "the beat");
    c.expect(":", "\":\" and the tick of bar:beat:tick");
    const char* tick_at = c.position();
    const std::int64_t tick = c.number(0, INT32_MAX, "the tick");
    if (!score_metre_.has_bars()) {
        field_cursor::fail(at, "this file has no bars (SMPTE time or division 0): write the time in ticks");
    }
    if (first < 1 || first > INT32_MAX) field_cursor::fail(at, "bars count from 1");
    const score::metre_segment* s = score_metre_.segment_of_bar(first);
    if (!s->usable()) {
        field_cursor::fail(at, "bar " + std::to_string(first) +
                                   " has no beats (its time signature is unusable): write the time in ticks");
    }
    if (beat < 1 || beat > s->beats_per_bar) {
        log_.warning(*line_, beat_at,
                     "beat " + std::to_string(beat) + " is beyond its bar, which has " +
                         std::to_string(s->beats_per_bar) + " beats (they count from 1)");
    }
    if (tick >= s->ticks_per_beat) {
        log_.warning(*line_, tick_at,
                     "tick " + std::to_string(tick) + " is beyond its beat, which has " +
                         std::to_string(s->ticks_per_beat) + " ticks (they count from 0)");
    }
    const std::int64_t time =
        s->start + (first - s->first_bar) * s->ticks_per_bar() + (beat - 1) * s->ticks_per_beat + tick;
    if (time < 0) field_cursor::fail(at, "this time is before the track's start");
    const score::metre_segment* next = score_metre_.next(s);
    if (next != nullptr && time >= next->start && beat >= 1 && beat <= s->beats_per_bar) {
        log_.warning(*line_, at, "bar " + std::to_string(first) + " ends early, where the time signature changes");
    }
    return time;
}

void assembler::score_channel_event(field_cursor& c, std::size_t slot, bool note) {
    const channel_syntax& syntax = keywords().syntax(slot);
    c.expect_blank("the channel");
    if (!c.take_label(syntax.channel_label)) {
        field_cursor::fail(c.position(), "expected " + std::string(syntax.channel_label) + "=");
    }
    const auto channel = static_cast<int>(c.number(1, 16, "the channel"));
    const auto label = [&c](const std::array<std::string_view, 2>& labels) {
        c.expect_blank("the value");
        if (!c.take_label(labels[0]) && !c.take_label(labels[1])) {
            field_cursor::fail(c.position(),
                               "expected " + std::string(labels[0]) + "= or " + std::string(labels[1]) + "=");
        }
    };
    label(syntax.second);
    const char* first_at = c.position();
    int first = 0;
    int second = -1;
    const char* note_end = first_at;
    std::int64_t bend = -1;
    // A value above 127 cannot be a data byte: where it stands in the file
    // (a malformed one) the line says so with raw=1; anywhere else it is an
    // edit gone too far, refused below once the line's marks are read.
    const char* over_at = nullptr;
    std::string over;
    const auto data_value = [&](const char* at, int value, const char* what) {
        if (value > 127 && over_at == nullptr) {
            over_at = at;
            over = std::string(what) + " " + std::string(at, c.position());
        }
    };
    if (names_a_note(slot)) {
        first = c.note();
        note_end = c.position();
        data_value(first_at, first, "the note");
    } else if (slot == slot_pitch_bend) {
        bend = c.number(0, largest_bend, "the pitch bend");
        const bend_bytes bend_split = split_bend(bend);
        first = bend_split.low;
        second = bend_split.high;
        if (first > 127 || second > 127) data_value(first_at, 128, "the pitch bend");
    } else {
        first = static_cast<int>(c.number(0, 255, "the value"));
        data_value(first_at, first, "the value");
    }
    if (!syntax.third[0].empty()) {
        label(syntax.third);
        const char* at = c.position();
        second = static_cast<int>(c.number(0, 255, "the value"));
        data_value(at, second, "the value");
    }
    // Marks, and a Note's length and end.
    std::int64_t length = -1;
    const char* length_at = nullptr;
    int end_kind = habits_.end_velocity;
    std::int32_t end_position = score::pending_end{}.position;
    int status_mark = 0;
    int end_status_mark = 0;
    bool raw = false;
    int low = -1;
    const char* low_at = nullptr;
    while (!c.at_end()) {
        const char* start = c.position();
        const std::string_view key = field_key(c);
        const char* value_at = c.position();
        if (key == score::habit_word::status) {
            status_mark = status_value(c);
        } else if (key == score::habit_word::raw) {
            raw = c.number(0, 1, "raw (0 or 1)") == 1;
        } else if (slot == slot_pitch_bend && key == score::habit_word::low) {
            low_at = value_at;
            low = static_cast<int>(c.number(128, 255, "the pitch bend's first data byte (128 to 255)"));
        } else if (note && key == score::habit_word::length) {
            length_at = value_at;
            const char* p = value_at;
            const char* q = p;
            while (*q != ' ' && *q != '\t' && *q != '\n' && *q != '\r' && *q != '\\') ++q;
            std::int64_t ticks = 0;
            const int read = score::read_note_value(std::string_view(p, static_cast<std::size_t>(q - p)),
                                                    metre_.smpte ? 0 : metre_.division, ticks);
            if (read < 0) {
                field_cursor::fail(value_at, metre_.smpte
                                                 ? "a file in SMPTE time has no note values: write the "
                                                   "length in ticks"
                                                 : "this note value is not a whole number of ticks at "
                                                   "division " +
                                                       std::to_string(metre_.division) + ": write the length in ticks");
            }
            if (read > 0) {
                c.expect(std::string_view(p, static_cast<std::size_t>(read)), "the length");
                length = ticks;
            } else {
                length =
                    c.number(0, std::int64_t{1} << 50, "the length (a note value such as 1/8, 1/4. or 1/8t, or ticks)");
            }
        } else if (note && key == score::habit_word::end) {
            if (c.looking_at(score::habit_word::end_on)) {
                c.word();
                end_kind = score::end_by_note_on;
            } else {
                end_kind = static_cast<int>(c.number(0, 255, "the velocity of the note-off"));
                if (end_kind > 127) data_value(value_at, end_kind, "the velocity of the note-off");
            }
        } else if (note && key == score::habit_word::end_position) {
            end_position = static_cast<std::int32_t>(c.number(0, INT32_MAX - 1, "the end's place at its tick"));
        } else if (note && key == score::habit_word::end_status) {
            end_status_mark = status_value(c);
        } else {
            field_cursor::fail(start, "unknown field \"" + std::string(key) + "\" (" +
                                          (note                      ? "len, end, endpos, status, endstatus, raw"
                                           : slot == slot_pitch_bend ? "status, low, raw"
                                                                     : "status, raw") +
                                          ")");
        }
    }
    if (low >= 0) {
        // The second byte is what the number holds beyond the first.
        const std::int64_t rest = bend - low;
        if (rest < 0 || rest % 128 != 0 || rest / 128 > 255) {
            field_cursor::fail(low_at, "the pitch bend " + std::to_string(bend) + " is not " + std::to_string(low) +
                                           " and 128 times a second byte");
        }
        first = low;
        second = static_cast<int>(rest / 128);
        if (over_at == nullptr) data_value(low_at, low, "the pitch bend's first data byte");
    }
    if (over_at != nullptr && !raw) {
        std::string text = over + " is not a MIDI data byte (0 to 127)";
        if (over_at == first_at && names_a_note(slot))
            text += ": a transposition that went too far? Notes run from c0 to g10";
        field_cursor::fail(over_at, text + "; only a line that says raw=1 writes such a value as it stands");
    }
    if (note && length < 0) field_cursor::fail(c.position(), "a Note needs its length: len=1/4, len=1/8. or len=96");
    if (note && second == 0) {
        field_cursor::fail(first_at, "a Note needs a velocity above 0 (a note-on at velocity 0 ends a note)");
    }
    // Notes that are lines of their own (On, Off) sound and end as in the
    // tick form; a Note line carries its own end.
    if (!note && (slot == slot_note_on || slot == slot_note_off) && first < 128) {
        note_event(std::string_view(first_at, static_cast<std::size_t>(note_end - first_at)), slot, channel, first,
                   second);
    }
    const int status = channel_slot_status[slot] | (channel - 1);
    put_score_channel(line_time_, status, first, second, status_mark, first_at);
    if (!note) return;
    score::pending_end end;
    end.time = line_time_ + length;
    end.position = end_position;
    end.order = habits_.reverse ? -notes_begun_ : notes_begun_;
    ++notes_begun_;
    end.line = line_->number;
    end.column = length_at - line_->begin + 1;
    end.status = end_kind == score::end_by_note_on ? 0x90 | (channel - 1) : 0x80 | (channel - 1);
    end.key = first;
    end.velocity = end_kind == score::end_by_note_on ? 0 : end_kind;
    end.status_mark = end_status_mark;
    ends_.add(end);
}

void assembler::put_delta_to(std::int64_t time) {
    put_vlq(static_cast<std::uint32_t>(time - written_time_));
    written_time_ = time;
    previous_time_ = static_cast<std::int32_t>(wrap(time));
    ends_.written(time);
}

void assembler::put_score_channel(std::int64_t time, int status, int first, int second, int mark, const char* at) {
    place_ends(time);
    put_delta_to(time);
    const score::running_rule rule{running_status_};
    bool omit = rule.omits(habits_, status, first);
    if (mark == 1) omit = false;
    if (mark == 2) {
        if (status != channel_status_ || first >= 0x80) {
            field_cursor::fail(at,
                               "status=0 leaves out the status byte, which only the status of the channel "
                               "event before may do");
        }
        omit = true;
    }
    if (!omit) put(static_cast<unsigned char>(status));
    put(static_cast<unsigned char>(first));
    if (second >= 0) put(static_cast<unsigned char>(second));
    running_status_ = status;
    channel_status_ = status;
}

void assembler::place_ends_slowly(std::int64_t time) {
    while (const score::pending_end* end = ends_.next_before(time)) put_end(*end);
}

void assembler::put_end(const score::pending_end& end) {
    if (end.time - written_time_ > largest_step) {
        log_.error(end.line, end.column,
                   "this note ends " + std::to_string(end.time - written_time_) +
                       " ticks after the event before its end, more than a MIDI file can hold in one step");
    }
    if (end_of_track_line_ != 0 && !after_end_warned_) {
        after_end_warned_ = true;
        log_.warning(end.line, end.column,
                     "this note ends after the track's Meta TrkEnd on line " + std::to_string(end_of_track_line_) +
                         ": shorten it, or move the Meta TrkEnd later");
    }
    // A song may hold as many ends as events: written in one go.
    unsigned char* out = assembly::put_vlq(track_.room(8), static_cast<std::uint32_t>(end.time - written_time_));
    written_time_ = end.time;
    previous_time_ = static_cast<std::int32_t>(wrap(end.time));
    ends_.written(end.time);
    const score::running_rule rule{running_status_};
    bool omit = rule.omits(habits_, end.status, end.key);
    if (end.status_mark == 1) omit = false;
    if (end.status_mark == 2 && end.status == channel_status_ && end.key < 0x80) omit = true;
    if (!omit) *out++ = static_cast<unsigned char>(end.status);
    *out++ = static_cast<unsigned char>(end.key);
    *out++ = static_cast<unsigned char>(end.velocity);
    track_.commit(out);
    running_status_ = end.status;
    channel_status_ = end.status;
}

}  // namespace smfasm::assembly
