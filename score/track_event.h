// One event of a track chunk as the score form holds it: a plain record,
// filled by the reader and by the analysis.
#pragma once

#include <array>
#include <cstdint>

#include "score/habits.h"

namespace smfasm::score {

enum class event_type : std::uint8_t { channel, sysex, arbitrary, meta };

// What a line must say beyond its event's values.
enum status_mark : std::uint8_t {
    status_as_rule = 0,
    status_written = 1,  // "status=1": the byte stands though the rule leaves it out
    status_left_out = 2  // "status=0": running status where the rule writes the byte
};

inline constexpr std::int32_t no_event = -1;

// How the running-status rule meets a channel event, in six bits: its
// channel slot (times 8), whether the file left its status byte out (4),
// whether a meta event or SysEx came between it and the channel event
// before (2), and whether its status repeats that event's, with a first
// data byte below 128 (1). Its mark under any habits follows from these.
// The two bits above say whether it is a paired note's start or end, as
// is_start and is_end do.
namespace status_case {
inline constexpr unsigned repeats = 1;
inline constexpr unsigned after_other = 2;
inline constexpr unsigned ran = 4;
inline constexpr unsigned start = 64;
inline constexpr unsigned end = 128;
inline constexpr unsigned rule_cases = 64;  // without the two bits above
inline constexpr unsigned count = 256;
inline constexpr unsigned of_slot(channel_slot slot) { return static_cast<unsigned>(slot) * 8; }
}  // namespace status_case

// 24 bytes: a track of the densest kind holds a few hundred thousand, read
// once as they come and once as their lines are written, so their size is
// what those passes cost in memory traffic. A channel event and a SysEx or
// meta event share two fields' room, each reading only its own.
struct track_event {
    std::int64_t time = 0;  // absolute tick from the track's start
    union {
        std::int32_t partner = no_event;  // a channel event: a note's start its end, an end its start
        std::int32_t length;              // a SysEx or meta event: its payload's byte count
    };
    union {
        // A SysEx or meta event: the offset of its payload in the track's
        // payload store. A note's start while it waits for its end: the
        // start struck after it on its key (see waiting_notes).
        std::uint32_t payload = 0;
        // A note's start once paired: -1, or where its end stands at its
        // tick when that breaks the order rule.
        std::int32_t end_position;
    };
    event_type type = event_type::channel;
    std::uint8_t status = 0;  // channel status byte, or meta type
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    bool running = false;          // the file left out the status byte
    std::uint8_t status_case = 0;  // set by the tally, see status_case

    bool is_start() const { return (status_case & status_case::start) != 0; }
    bool is_end() const { return (status_case & status_case::end) != 0; }
};
static_assert(sizeof(track_event) == 24);

// A channel event as the reader holds it: `running` when the file left out
// its status byte.
inline track_event channel_event(std::int64_t time, int status, int first, int second, bool running) {
    track_event e;
    e.time = time;
    e.status = static_cast<std::uint8_t>(status);
    e.first = static_cast<std::uint8_t>(first);
    e.second = static_cast<std::uint8_t>(second);
    e.running = running;
    return e;
}

// The status mark of each status case under the habits.
using status_mark_table = std::array<status_mark, status_case::count>;
status_mark_table status_marks(const track_habits& habits);

// The status mark of a channel event under the habits.
inline status_mark mark_of(const track_event& e, const track_habits& habits) {
    const unsigned c = e.status_case;
    const bool omitted = (c & status_case::repeats) != 0 && (habits.carry || (c & status_case::after_other) == 0) &&
                         ((habits.running >> (c % status_case::rule_cases / 8)) & 1u) != 0;
    return omitted == e.running ? status_as_rule : e.running ? status_left_out : status_written;
}

// Whether the event is a note's end: a note-off, or a note-on at velocity 0.
inline bool ends_a_note(const track_event& e) {
    return e.type == event_type::channel && ((e.status & 0xF0) == 0x80 || ((e.status & 0xF0) == 0x90 && e.second == 0));
}

// The velocity habit value of a paired end.
inline int end_kind(const track_event& end) { return (end.status & 0xF0) == 0x90 ? end_by_note_on : end.second; }

}  // namespace smfasm::score
