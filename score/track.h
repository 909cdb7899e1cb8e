// One track chunk's events as the score form needs them: held whole, since
// a note's length is known only at its end, then paired into notes and
// measured against the track's habits before any line is written.
#pragma once

#include <cstdint>
#include <vector>

#include "score/habits.h"
#include "score/tally.h"
#include "score/track_event.h"

namespace smfasm::score {

struct track_record {
    std::vector<track_event> events;
    std::vector<unsigned char> payload;
    // The time of the event being added, from the track's start.
    std::int64_t clock = 0;
    // The analysis of the events added through add_channel and add_other,
    // made as they come; analyse_track counts any others.
    track_tally tally;
    void clear() {
        events.clear();
        payload.clear();
        clock = 0;
        tally.clear();
    }
    // A channel event at `clock`.
    void add_channel(int status, int first, int second, bool running) {
        add_channel_at(clock, status, first, second, running);
    }
    // Inlined always: the reader's loop calls it for nearly every event.
    [[gnu::always_inline]] void add_channel_at(std::int64_t time, int status, int first, int second, bool running) {
        events.push_back(channel_event(time, status, first, second, running));
        tally.channel(events, events.size() - 1, time, static_cast<unsigned>(status), static_cast<unsigned>(first),
                      static_cast<unsigned>(second), running);
    }
    // A SysEx or meta event at `clock`, its payload stored already.
    track_event& add_other(event_type type, int status) {
        track_event& e = events.emplace_back();
        e.time = clock;
        e.type = type;
        e.status = static_cast<std::uint8_t>(status);
        tally.other(events, events.size() - 1, clock);
        return events.back();
    }
};

// Pairs notes first in, first out per channel and key, chooses the habits
// that leave the fewest marks and sets the end positions and status cases.
// What cannot pair (a note that never ends, an end with nothing sounding)
// keeps partner no_event.
track_habits analyse_track(track_record& track);

}  // namespace smfasm::score
