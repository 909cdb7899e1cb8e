// A track's byte habits: what the score form's lines leave unsaid because
// the track's MTrk line states it once. A line whose event breaks a habit
// carries a mark; the rules here are the ones both directions apply.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "state/tables.h"

namespace smfasm::score {

// How a note's end is written: a note-off with this velocity, or a note-on
// with velocity 0.
inline constexpr int end_by_note_on = -1;

struct track_habits {
    int end_velocity = 64;  // or end_by_note_on
    // One bit per channel_slot: such messages leave out a repeated status
    // byte (running status); the others write it every time.
    unsigned running = (1u << channel_slot_count) - 1;
    // Running status carries on across meta events and SysEx.
    bool carry = false;
    // Notes ending at one tick end latest-begun first (else first-begun).
    bool reverse = false;
};

// The channel slot of a status byte (0x80 to 0xEF).
inline constexpr std::array<channel_slot, 8> slot_of_nibble = {slot_note_off,   slot_note_on,   slot_poly_pressure,
                                                               slot_controller, slot_program,   slot_channel_pressure,
                                                               slot_pitch_bend, slot_pitch_bend};
inline channel_slot slot_of_status(int status) { return slot_of_nibble[(static_cast<unsigned>(status) >> 4) & 7]; }

// The status byte that may be left out before the next channel event, as
// the rule sees it: the last channel status, forgotten at a meta event or
// SysEx unless the track carries it across.
struct running_rule {
    int status = 0;
    void channel(int written) { status = written; }
    void other(const track_habits& habits) {
        if (!habits.carry) status = 0;
    }
    // Whether the rule leaves out this event's status byte. A first data
    // byte of 128 or more would read as a status byte, so it never does then.
    bool omits(const track_habits& habits, int event_status, int first) const {
        return event_status == status && first < 0x80 && ((habits.running >> slot_of_status(event_status)) & 1u) != 0;
    }
};

// Spellings on the MTrk line and on event lines.
namespace habit_word {
inline constexpr std::string_view end = "end";
inline constexpr std::string_view end_on = "on";
inline constexpr std::string_view running = "running";
inline constexpr std::string_view all = "all";
inline constexpr std::string_view none = "none";
inline constexpr std::string_view carry = "carry";
inline constexpr std::string_view order = "order";
inline constexpr std::string_view order_first = "first";
inline constexpr std::string_view order_last = "last";
// Marks on event lines.
inline constexpr std::string_view length = "len";
inline constexpr std::string_view end_position = "endpos";
inline constexpr std::string_view status = "status";
inline constexpr std::string_view end_status = "endstatus";
// A data value of 128 or more, as a malformed file holds it: written as it
// stands, where any other line's such value is refused.
inline constexpr std::string_view raw = "raw";
// A pitch bend's first data byte where its top bit is set: the line's one
// number cannot tell that bit from the second byte's lowest.
inline constexpr std::string_view low = "low";
}  // namespace habit_word

}  // namespace smfasm::score
