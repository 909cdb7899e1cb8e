// Channel lines: the general reader, and the quick one for lines exactly as
// the lister writes them; and the loop over the listing, which tries the
// quick reader first and so keeps it inline.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "asm/assembly.h"
#include "score/habits.h"
#include "state/tables.h"

namespace smfasm::assembly {

namespace {

// A value's label from either format set, after its blank.
[[gnu::always_inline]] inline void take_either_label(field_cursor& c, const std::array<std::string_view, 2>& labels) {
    c.expect_blank("the value");
    if (!c.take_label(labels[0]) && !c.take_label(labels[1])) {
        field_cursor::fail(c.position(), "expected " + std::string(labels[0]) + "= or " + std::string(labels[1]) + "=");
    }
}

// What each channel line's two values are, for warnings.
struct value_names {
    const char* first;
    const char* second;
};
constexpr std::array<value_names, channel_slot_count> channel_value_names = {{
    {"the note", "the velocity"},     // slot_note_on
    {"the note", "the velocity"},     // slot_note_off
    {"the note", "the pressure"},     // slot_poly_pressure
    {"the controller", "the value"},  // slot_controller
    {"the pitch bend", nullptr},      // slot_pitch_bend
    {"the program", nullptr},         // slot_program
    {"the pressure", nullptr},        // slot_channel_pressure
}};

}  // namespace

void assembler::data_byte(const field_cursor& c, const char* at, int value, const char* what) {
    if (value < 0x80) return;
    log_.warning(*line_, at,
                 std::string(what) + " " + std::string(at, c.position()) +
                     " is not a MIDI data byte (0 to 127); written as it stands");
}

void assembler::channel_event(field_cursor& c, std::size_t slot, std::int32_t time) {
    const channel_syntax& syntax = keywords().syntax(slot);
    const value_names& names = channel_value_names[slot];
    c.expect_blank("the channel");
    if (!c.take_label(syntax.channel_label)) {
        field_cursor::fail(c.position(), "expected " + std::string(syntax.channel_label) + "=");
    }
    const auto channel = static_cast<int>(c.number(1, 16, "the channel"));
    take_either_label(c, syntax.second);
    int first = 0;
    int second = -1;  // none
    const char* at = c.position();
    std::string_view note;  // as written
    if (names_a_note(slot)) {
        first = c.note();
        note = {at, static_cast<std::size_t>(c.position() - at)};
        data_byte(c, at, first, names.first);
    } else if (slot == slot_pitch_bend) {
        const std::int64_t value = c.number(0, largest_bend, names.first);
        if (value > largest_data_bend) {
            log_.warning(*line_, at,
                         "the pitch bend " + std::to_string(value) +
                             " is more than two MIDI data bytes hold (0 to 16383); written as it stands");
        }
        const bend_bytes bend = split_bend(value);
        first = bend.low;
        second = bend.high;
    } else {
        first = static_cast<int>(c.number(0, 255, names.first));
        data_byte(c, at, first, names.first);
    }
    if (!syntax.third[0].empty()) {
        take_either_label(c, syntax.third);
        at = c.position();
        second = static_cast<int>(c.number(0, 255, names.second));
        data_byte(c, at, second, names.second);
    }
    c.expect_end();
    if ((slot == slot_note_on || slot == slot_note_off) && first < 128) note_event(note, slot, channel, first, second);
    put_channel(time, slot, channel, first, second);
}

void assembler::note_event(std::string_view note, std::size_t slot, int channel, int key, int velocity) {
    const std::size_t index = static_cast<std::size_t>(channel - 1) * 128 + static_cast<std::size_t>(key);
    std::uint32_t& sounding = sounding_[index];
    if (slot == slot_note_on && velocity != 0) {
        if (sounding++ == 0) struck_on_[index] = line_->number;
        return;
    }
    if (sounding != 0) {
        --sounding;
        return;
    }
    log_.warning(*line_, note.data(),
                 std::string(slot == slot_note_on ? "this note-on with velocity 0" : "this note-off") +
                     " ends no note: note " + std::string(note) + " is not sounding on channel " +
                     std::to_string(channel));
}

[[gnu::always_inline]] inline void assembler::put_channel(std::int32_t time, std::size_t slot, int channel, int first,
                                                          int second) {
    unsigned char* out = assembly::put_vlq(track_.room(8), wrap(time) - wrap(previous_time_));
    previous_time_ = time;
    const int status = channel_slot_status[slot] | (channel - 1);
    // A first data byte of 128 or more would read as a status byte.
    if (status != running_status_ || first >= 0x80 || !options_.running_status) {
        *out++ = static_cast<unsigned char>(status);
    }
    *out++ = static_cast<unsigned char>(first);
    if (second >= 0) *out++ = static_cast<unsigned char>(second);
    track_.commit(out);
    running_status_ = status;
}

namespace {

bool is_digit(char c) { return static_cast<unsigned>(c - '0') < 10; }

// A number of at most `digits` digits at p, moved past them; -1 when there
// are none or more.
[[gnu::always_inline]] inline std::int64_t quick_number(const char*& p, int digits) {
    // One to three digits, the size of nearly every value, without a loop.
    const unsigned d0 = static_cast<unsigned char>(p[0]) - unsigned{'0'};
    if (d0 > 9) return -1;
    const unsigned d1 = static_cast<unsigned char>(p[1]) - unsigned{'0'};
    if (d1 > 9) {
        p += 1;
        return d0;
    }
    const unsigned d2 = static_cast<unsigned char>(p[2]) - unsigned{'0'};
    if (d2 > 9) {
        p += 2;
        return digits >= 2 ? d0 * 10 + d1 : -1;
    }
    if (static_cast<unsigned>(static_cast<unsigned char>(p[3]) - unsigned{'0'}) > 9) {
        p += 3;
        return digits >= 3 ? d0 * 100 + d1 * 10 + d2 : -1;
    }
    const char* q = p;
    std::uint64_t value = 0;
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) < 10 && q - p <= digits; ++q) {
        value = value * 10 + d;
    }
    const std::ptrdiff_t count = q - p;
    p = q;
    return count > digits ? -1 : static_cast<std::int64_t>(value);
}

// The same for the time column's longer numbers: up to eight digits are
// found and converted eight bytes at a time (the reader keeps room behind
// every line for such a load).
[[gnu::always_inline]] inline std::int64_t quick_long_number(const char*& p, int digits) {
    if constexpr (std::endian::native != std::endian::little) return quick_number(p, digits);
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    std::uint64_t values = chunk ^ 0x3030303030303030u;  // digits become 0 to 9
    const std::uint64_t others = ((values + 0x7676767676767676u) | values) & 0x8080808080808080u;
    // Eight digits fill the load: the byte behind them must end the number.
    if (others != 0 || static_cast<unsigned>(static_cast<unsigned char>(p[8]) - unsigned{'0'}) > 9) {
        const int count = others != 0 ? std::countr_zero(others) / 8 : 8;  // little-endian: the first byte is lowest
        if (count == 0 || count > digits) return -1;
        p += count;
        // Shifted to the top with zero digits in front, then combined in
        // pairs, fours and eights.
        if (count < 8) values <<= 64 - 8 * count;
        values = values * 10 + (values >> 8);
        values = ((values & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
                  ((values >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
                 32;
        return static_cast<std::int64_t>(values);
    }
    return quick_number(p, digits);
}

[[gnu::always_inline]] inline bool quick_label(const char*& p, const packed_label& label) {
    if ((load8(p) & label.mask) != label.key) return false;
    p += label.size;
    return true;
}

// "-123" or "123" as a 32-bit time part.
[[gnu::always_inline]] inline bool quick_time_part(const char*& p, std::int32_t& part) {
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    const std::int64_t value = quick_long_number(p, 10);
    if (value < 0 || value > (negative ? std::int64_t{1} << 31 : INT32_MAX)) return false;
    part = static_cast<std::int32_t>(negative ? -value : value);
    return true;
}

}  // namespace

// The commonest line by far: a channel event exactly as the lister writes
// it ("1662 On ch=1 n=42 v=15"), read in one pass through a local pointer.
// Any other shape, and every error, is left to the general parser, which
// reads the line again and words the message.
[[gnu::always_inline]] inline bool assembler::quick_channel_line(const char* p, const char* end, std::int64_t number) {
    if (!quick_) return false;
    time_field t;
    t.at = p;
    if (!quick_time_part(p, t.ticks)) return false;
    if (*p == ':') {
        t.measure = true;
        ++p;
        if (!quick_time_part(p, t.beat) || *p != ':') return false;
        ++p;
        if (!quick_time_part(p, t.tick)) return false;
    }
    if (*p++ != ' ') return false;
    quick_channel fields;
    if (!quick_channel_fields<false>(p, fields)) return false;
    const std::size_t slot = fields.slot;
    const std::int64_t channel = fields.channel;
    const std::int64_t first = fields.first;
    const std::int64_t second = fields.second;
    // Values above 127, measure times that need a look at the metre (or that
    // wrap, or run past their bar or beat) and the first event of a track in
    // measure time are left to the general reader,
    // which warns where a listing is probably wrong.
    if (p != end || (t.measure && (!metre_.usable() || track_.size() == 0 || !within_bar(t)))) return false;
    const std::int32_t time = event_time(t);
    if (!delta_fits(time, previous_time_) || (t.measure && measure_ticks(t) != time)) return false;
    if (slot <= slot_note_off) {
        const auto index = static_cast<std::size_t>((channel - 1) * 128 + first);
        std::uint32_t& sounding = sounding_[index];
        if (slot == slot_note_on && second != 0) {
            if (sounding++ == 0) struck_on_[index] = number;
        } else {
            // An off that ends no note: the general reader says so.
            if (sounding == 0) return false;
            --sounding;
        }
    }
    put_channel(time, slot, static_cast<int>(channel), static_cast<int>(first), static_cast<int>(second));
    return true;
}
namespace {

// A note name as the lister writes it ("c#4", "a10"): its number, with p
// moved past it; or -1 for any other spelling, which the general reader
// reads.
[[gnu::always_inline]] inline std::int64_t quick_note_name(const char*& p) {
    const auto letter = static_cast<unsigned char>(p[0]);
    int index = letter < note_letter_index.size() ? note_letter_index[letter] : -1;
    if (index < 0) return -1;
    const char* q = p + 1;
    if (*q == '#') {
        ++index;
        ++q;
    }
    const unsigned d0 = static_cast<unsigned char>(q[0]) - unsigned{'0'};
    if (d0 > 9) return -1;
    const unsigned d1 = static_cast<unsigned char>(q[1]) - unsigned{'0'};
    unsigned octave = d0;
    if (d1 <= 9) {
        octave = d0 * 10 + d1;
        ++q;
        if (is_digit(q[1])) return -1;
    }
    p = q + 1;
    return static_cast<std::int64_t>(octave) * 12 + index;
}

// " key=" of a mark on a score line, packed as a label.
constexpr packed_label mark_label(std::string_view key) {
    packed_label label;
    label.size = key.size() + 2;
    label.key = ' ' | pack(key) << 8 | std::uint64_t{'='} << (8 * (key.size() + 1));
    label.mask = low_bytes_mask(label.size);
    return label;
}
constexpr packed_label length_mark = mark_label(score::habit_word::length);
constexpr packed_label end_mark = mark_label(score::habit_word::end);
constexpr packed_label end_position_mark = mark_label(score::habit_word::end_position);

}  // namespace

[[gnu::always_inline]] inline void assembler::put_quick_score_channel(std::int64_t time, std::size_t slot, int channel,
                                                                      int first, int second) {
    place_ends(time);
    unsigned char* out = assembly::put_vlq(track_.room(8), static_cast<std::uint32_t>(time - written_time_));
    written_time_ = time;
    previous_time_ = static_cast<std::int32_t>(wrap(time));
    ends_.written(time);
    const int status = channel_slot_status[slot] | (channel - 1);
    // The running rule's test, for a first data byte below 128 and the
    // status of `slot`.
    if (status != running_status_ || ((habits_.running >> slot) & 1u) == 0) *out++ = static_cast<unsigned char>(status);
    *out++ = static_cast<unsigned char>(first);
    if (second >= 0) *out++ = static_cast<unsigned char>(second);
    track_.commit(out);
    running_status_ = status;
    channel_status_ = status;
}
static_assert([] {
    for (std::size_t slot = 0; slot < channel_slot_count; ++slot) {
        if (score::slot_of_nibble[(channel_slot_status[slot] >> 4) & 7] != slot) return false;
    }
    return true;
}());

// The fields after a channel line's time column exactly as the lister
// writes them: the keyword (in the score form also Note), the channel and
// the values, each a data byte. False for anything else, which the general
// reader reads again and words.
template <bool Score>
[[gnu::always_inline]] inline bool assembler::quick_channel_fields(const char*& p, quick_channel& fields) {
    const char* word = p;
    while (static_cast<unsigned>((*p | 0x20) - 'a') < 26) ++p;
    const keyword_entry* entry = keywords().find_at(word, static_cast<std::size_t>(p - word));
    const bool kind_read =
        entry != nullptr && (entry->kind == event_kind::channel || (Score && entry->kind == event_kind::note));
    if (!kind_read || *p++ != ' ') return false;
    fields.note = entry->kind == event_kind::note;
    const std::size_t slot = fields.slot = entry->slot;
    const channel_syntax& syntax = keywords().syntax(slot);
    if (!quick_label(p, syntax.packed_channel)) return false;
    fields.channel = quick_number(p, 2);
    if (fields.channel < 1 || fields.channel > 16 || *p++ != ' ') return false;
    // A listing keeps to one format set: the one that matched last is tried
    // first.
    if (!quick_label(p, syntax.packed_second[label_set_])) {
        label_set_ = 1 - label_set_;
        if (!quick_label(p, syntax.packed_second[label_set_])) return false;
    }
    std::int64_t first = 0;
    std::int64_t second = -1;
    if (names_a_note(slot)) {
        if (is_digit(*p)) {
            first = quick_number(p, 3);
        } else if constexpr (Score) {
            // The lister names the notes of the score form, as it spells them.
            first = quick_note_name(p);
        } else {
            // A copy, so that the scan pointer's address never escapes and
            // it stays in a register.
            const char* name = p;
            first = read_note_name(name);
            p = name;
        }
        if (first < 0 || first > 127) return false;
    } else if (slot == slot_pitch_bend) {
        const std::int64_t value = quick_number(p, 5);
        if (value < 0 || value > largest_data_bend) return false;
        const bend_bytes bend = split_bend(value);
        first = bend.low;
        second = bend.high;
    } else {
        first = quick_number(p, 3);
        if (first < 0 || first > 127) return false;
    }
    if (!syntax.third[0].empty()) {
        if (*p++ != ' ') return false;
        if (!quick_label(p, syntax.packed_third[label_set_])) return false;
        second = quick_number(p, 3);
        if (second < 0 || second > 127) return false;
    }
    fields.first = first;
    fields.second = second;
    return true;
}

// The score form's channel and Note lines exactly as the lister writes them
// ("3:2:117 Note ch=1 n=c#4 v=90 len=1/8 end=0"), in one pass like the
// tick form's. A bar:beat:tick time is placed in the metre map's run of
// bars kept from the line before. Whatever would warn (a beat or tick
// beyond its bar or beat, a bar cut short, an off that ends no note, a
// value above 127), the status marks and every error are left to the
// general reader, which reads the line again; so is any other shape.
[[gnu::always_inline]] inline bool assembler::quick_score_line(const char* p, const char* end, std::int64_t number) {
    if (!quick_score_) return false;
    const char* const begin = p;
    std::int64_t time = quick_long_number(p, 10);
    if (time < 0) return false;
    if (*p == ':') {
        const std::int64_t bar = time;
        ++p;
        const std::int64_t beat = quick_number(p, 3);
        if (beat < 1 || *p++ != ':') return false;
        const std::int64_t tick = quick_number(p, 6);
        if (tick < 0 || bar < 1 || bar > INT32_MAX) return false;
        const score::bar_run& run = score_metre_.run_of_bar(bar);
        // Bars with no beats fail these too.
        if (beat > run.beats_per_bar || tick >= run.ticks_per_beat) return false;
        time = run.start + (bar - run.first_bar) * run.ticks_per_bar + (beat - 1) * run.ticks_per_beat + tick;
        if (time >= run.next_start) return false;
    }
    if (*p++ != ' ') return false;
    quick_channel fields;
    if (!quick_channel_fields<true>(p, fields)) return false;
    const bool note = fields.note;
    const std::size_t slot = fields.slot;
    const std::int64_t channel = fields.channel;
    const std::int64_t first = fields.first;
    const std::int64_t second = fields.second;
    // A Note's end, put in the queue once the line is known good.
    std::int64_t length_column = 0;
    std::int64_t length = 0;
    int end_kind = 0;
    std::int32_t end_position = score::pending_end{}.position;
    if (note) {
        // A velocity of 0 is an error: said by the general reader.
        if (second == 0 || !quick_label(p, length_mark)) return false;
        length_column = p - begin + 1;
        if (p[0] == '1' && p[1] == '/') {
            p += 2;
            const std::int64_t over = quick_number(p, 2);
            if (over < 0 || over >= static_cast<std::int64_t>(note_value_ticks_.size())) return false;
            const std::size_t form = *p == '.' ? 1 : *p == 't' ? 2 : 0;
            p += form != 0 ? 1 : 0;
            length = note_value_ticks_[static_cast<std::size_t>(over)][form];
        } else {
            length = quick_long_number(p, 9);
        }
        if (length < 0 || length > largest_step) return false;
        end_kind = habits_.end_velocity;
        if (quick_label(p, end_mark)) {
            if (p[0] == 'o' && p[1] == 'n' && (p[2] == ' ' || p + 2 == end)) {
                p += 2;
                end_kind = score::end_by_note_on;
            } else {
                end_kind = static_cast<int>(quick_number(p, 3));
                if (end_kind < 0 || end_kind > 127) return false;  // above: raw=1, or an error
            }
        }
        if (quick_label(p, end_position_mark)) {
            const std::int64_t position = quick_long_number(p, 10);
            if (position < 0 || position > INT32_MAX - 1) return false;
            end_position = static_cast<std::int32_t>(position);
        }
    }
    if (p != end || !delta_fits(static_cast<std::int32_t>(wrap(time)), previous_time_)) return false;
    if (!note && slot <= slot_note_off) {
        const auto index = static_cast<std::size_t>((channel - 1) * 128 + first);
        std::uint32_t& sounding = sounding_[index];
        if (slot == slot_note_on && second != 0) {
            if (sounding++ == 0) struck_on_[index] = number;
        } else {
            if (sounding == 0) return false;
            --sounding;
        }
    }
    put_quick_score_channel(time, slot, static_cast<int>(channel), static_cast<int>(first), static_cast<int>(second));
    if (note) {
        score::pending_end ending;
        ending.time = time + length;
        ending.position = end_position;
        ending.order = habits_.reverse ? -notes_begun_ : notes_begun_;
        ++notes_begun_;
        ending.line = number;
        ending.column = length_column;
        const int end_channel = static_cast<int>(channel) - 1;
        ending.status = end_kind == score::end_by_note_on ? 0x90 | end_channel : 0x80 | end_channel;
        ending.key = static_cast<int>(first);
        ending.velocity = end_kind == score::end_by_note_on ? 0 : end_kind;
        ends_.add(ending);
    }
    return true;
}

[[gnu::always_inline]] inline bool assembler::line(const listing_line& line) {
    if (line.fold == broken_fold::none) {
        if (quick_channel_line(line.begin, line.end, line.number)) return true;
        // The ends a score line places may say a note runs too long.
        if (quick_score_line(line.begin, line.end, line.number)) return !log_.full();
    }
    return general_line(line);
}

}  // namespace smfasm::assembly

namespace smfasm {

int assemble(listing_reader& in, const char* name, const assembly_options& options, byte_sink& out, std::FILE* messages,
             std::vector<assembly_message>* collected) {
    assembly::assembler a(name, options, out, messages, collected);
    listing_line line;
    while (in.next(line)) {
        if (!a.line(line)) break;
    }
    return a.finish(in.lines_read(), in.read_error() == 0);
}

}  // namespace smfasm
