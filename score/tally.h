// The track analysis's first half, counted over the events as they are
// added, a batch at a time (the reader counts each block it has read while
// that is still in the cache): notes paired first in, first out per channel
// and key, each channel event's status case, and the counts the habits are
// chosen by. analyse_track chooses them once the track is whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "score/event_list.h"
#include "score/track_event.h"

namespace smfasm::score {

// Starts waiting for their end, per channel and key. A waiting start's
// payload field (which a channel event has no use for) links to the start
// struck after it on its key, so that a struck-again key costs nothing
// extra; its partner stays no_event until its end comes. One set per
// thread, taken by the track being counted: a thread counts one track at a
// time.
struct waiting_notes {
    static constexpr std::size_t keys = std::size_t{16} * 256;
    std::array<std::int32_t, keys> head;
    std::array<std::int32_t, keys> tail;
    std::array<bool, keys> listed{};  // in `used`
    std::vector<std::uint16_t> used;
    waiting_notes() {
        head.fill(no_event);
        tail.fill(no_event);
    }
};

// The slot of each channel status's high nibble, as a status case.
inline constexpr std::array<std::uint8_t, 16> slot_cases = [] {
    std::array<std::uint8_t, 16> cases{};
    for (unsigned nibble = 8; nibble < 15; ++nibble) {
        cases[nibble] = static_cast<std::uint8_t>(status_case::of_slot(slot_of_nibble[nibble & 7]));
    }
    return cases;
}();

// What the tally carries from one event to the next. A loop that adds many
// events keeps a copy in a local, where it stays in registers (the events'
// byte stores may alias anything in memory), and puts it back after.
struct tally_state {
    std::size_t counted = 0;   // events counted so far
    unsigned last_status = 0;  // of the last channel event
    unsigned after_other = 0;  // status_case::after_other when a meta event or SysEx came since
    // Whether an end is among the events of the last event's tick, and
    // then where that tick begins.
    bool group_ends = false;
    std::size_t group = 0;
};

struct track_tally {
    // Ends by note-on ([0]) and note-off at each velocity ([1 + v]).
    std::array<std::int64_t, 257> end_counts{};
    std::array<std::int64_t, status_case::rule_cases> case_counts{};
    // Ticks of several events with an end among them, where the order of
    // ends may need marks (see analyse_track): where each begins, and
    // the marks each order would cost (first-begun, latest-begun).
    std::vector<std::size_t> groups;
    std::array<std::size_t, 2> order_costs{};
    tally_state now;
    waiting_notes* waiting = nullptr;

    void clear();
    waiting_notes& notes() { return waiting != nullptr ? *waiting : take_waiting(); }

    // Writes the channel event after those counted (s.counted) into `all`,
    // which has room for it, and counts it; `later` when its time is later
    // than the event's before (the reader knows that from the time step).
    // Inlined always: the reader's loop calls it for nearly every event,
    // with the values at hand.
    [[gnu::always_inline]] void channel(tally_state& s, waiting_notes& w, track_event* all, bool later,
                                        std::int64_t time, unsigned status, unsigned first, unsigned second,
                                        bool running) {
        const std::size_t i = s.counted++;
        if (later && s.group_ends) close_group(s, all, i);
        unsigned cell = slot_cases[status >> 4] | (running ? status_case::ran : 0u) | s.after_other |
                        (status == s.last_status && first < 0x80 ? status_case::repeats : 0u);
        ++case_counts[cell];
        s.last_status = status;
        s.after_other = 0;
        track_event& e = all[i];
        e.time = time;
        e.partner = no_event;
        e.payload = 0;
        e.type = event_type::channel;
        e.status = static_cast<std::uint8_t>(status);
        e.first = static_cast<std::uint8_t>(first);
        e.second = static_cast<std::uint8_t>(second);
        e.running = running;
        // Notes: 0x80 to 0x9F.
        if (status - 0x80u < 0x20u) {
            const std::size_t key = (status & 0x0Fu) << 8 | first;
            const auto index = static_cast<std::int32_t>(i);
            if (status >= 0x90 && second != 0) {
                const std::int32_t tail = w.tail[key];
                w.tail[key] = index;
                if (tail != no_event) {
                    all[tail].payload = static_cast<std::uint32_t>(index);
                } else {
                    w.head[key] = index;
                    if (!w.listed[key]) list_key(w, key);
                }
            } else if (const std::int32_t start = w.head[key]; start != no_event) {
                const std::int32_t next =
                    start == w.tail[key] ? no_event : static_cast<std::int32_t>(all[start].payload);
                w.head[key] = next;
                if (next == no_event) w.tail[key] = no_event;
                if (!s.group_ends) open_group(s, all, i, time);
                ++end_counts[status >= 0x90 ? 0 : 1 + static_cast<std::size_t>(second)];
                all[start].partner = index;
                all[start].end_position = -1;  // its link is done with
                all[start].status_case |= status_case::start;
                e.partner = start;
                cell |= status_case::end;
            }
        }
        e.status_case = static_cast<std::uint8_t>(cell);
    }

    // Counts the SysEx or meta event after those counted, written already.
    void other(tally_state& s, const track_event* all) {
        const std::size_t i = s.counted++;
        if (s.group_ends && all[i].time != all[i - 1].time) close_group(s, all, i);
        s.after_other = status_case::after_other;
    }

    // Counts the events added to `events` without the tally (tests build
    // tracks so).
    void catch_up(event_list& events);

    // The track is whole: its last tick counted, the starts still waiting
    // let go.
    void finish(const event_list& events);

private:
    // The tick with an end among its events is over at `i`.
    void close_group(tally_state& s, const track_event* all, std::size_t i) {
        if (i - s.group > 1) count_group(all, s.group, i);
        s.group_ends = false;
    }
    // The first end at the tick of events[i]: where that tick begins is
    // looked for only now, since most ticks hold no end.
    static void open_group(tally_state& s, const track_event* all, std::size_t i, std::int64_t time) {
        while (i > 0 && all[i - 1].time == time) --i;
        s.group = i;
        s.group_ends = true;
    }
    void count_group(const track_event* all, std::size_t group, std::size_t end);
    static void list_key(waiting_notes& w, std::size_t key);
    waiting_notes& take_waiting();
};

}  // namespace smfasm::score
