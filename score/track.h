// One track chunk's events as the score form needs them: held whole, since
// a note's length is known only at its end, then paired into notes and
// measured against the track's habits before any line is written.
#pragma once

#include <cstdint>
#include <vector>

#include "score/event_list.h"
#include "score/habits.h"
#include "score/tally.h"
#include "score/track_event.h"

namespace smfasm::score {

struct track_record {
    event_list events;
    std::vector<unsigned char> payload;
    // The time of the event being added, from the track's start.
    std::int64_t clock = 0;
    // The analysis of the events added through add_channel and add_other
    // (or straight through the tally), made as they come; analyse_track
    // counts any others.
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
    void add_channel_at(std::int64_t time, int status, int first, int second, bool running) {
        if (tally.now.counted != events.size()) tally.catch_up(events);
        const bool later = !events.empty() && time != events.back().time;
        events.room(1);
        tally.channel(tally.now, tally.notes(), events.data(), later, time, static_cast<unsigned>(status),
                      static_cast<unsigned>(first), static_cast<unsigned>(second), running);
        events.added(1);
    }
    // A SysEx or meta event at `clock`, its payload stored already.
    track_event& add_other(event_type type, int status) {
        if (tally.now.counted != events.size()) tally.catch_up(events);
        track_event& e = events.emplace_back();
        e.time = clock;
        e.type = type;
        e.status = static_cast<std::uint8_t>(status);
        tally.other(tally.now, events.data());
        return e;
    }
};

// Pairs notes first in, first out per channel and key, chooses the habits
// that leave the fewest marks and sets the end positions and status cases.
// What cannot pair (a note that never ends, an end with nothing sounding)
// keeps partner no_event.
track_habits analyse_track(track_record& track);

}  // namespace smfasm::score
