// Channel lines as the general reader reads them: any spelling, and every
// warning and error about them.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "asm/assembly.h"
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
    if (count_note(slot == slot_note_on && velocity != 0, channel, key, line_->number)) return;
    log_.warning(*line_, note.data(),
                 std::string(slot == slot_note_on ? "this note-on with velocity 0" : "this note-off") +
                     " ends no note: note " + std::string(note) + " is not sounding on channel " +
                     std::to_string(channel));
}

void assembler::put_channel(std::int32_t time, std::size_t slot, int channel, int first, int second) {
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

}  // namespace smfasm::assembly
