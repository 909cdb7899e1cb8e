// The track analysis's first half, made as each event is added (straight
// from the reader's loop, where the event's values are at hand): notes
// paired first in, first out per channel and key, each channel event's
// status case, and the counts the habits are chosen by. analyse_track
// chooses them once the track is whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

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

struct track_tally {
    std::size_t counted = 0;  // events counted so far
    // Ends by note-on ([0]) and note-off at each velocity ([1 + v]).
    std::array<std::int64_t, 257> end_counts{};
    std::array<std::int64_t, status_case::rule_cases> case_counts{};
    unsigned last_status = 0;  // of the channel event before
    unsigned after_other = 0;  // status_case::after_other when a meta event or SysEx came since
    // Ticks of several events with an end among them, where the order of
    // ends may need marks (see analyse_track): where each begins, and
    // the marks each order would cost (first-begun, latest-begun).
    std::size_t group = 0;
    std::int64_t group_time = 0;
    bool group_ends = false;
    std::vector<std::size_t> groups;
    std::array<std::size_t, 2> order_costs{};
    waiting_notes* waiting = nullptr;

    void clear();

    // Counts events[i], the channel event after those counted, with its
    // values. The stores into the events come last: they may alias anything.
    void channel(std::vector<track_event>& events, std::size_t i, std::int64_t time, unsigned status, unsigned first,
                 unsigned second, bool running) {
        counted = i + 1;
        if (time != group_time) next_tick(events, i, time);
        const unsigned cell = slot_cases[status >> 4] | (running ? status_case::ran : 0u) | after_other |
                              (status == last_status && first < 0x80 ? status_case::repeats : 0u);
        ++case_counts[cell];
        last_status = status;
        after_other = 0;
        track_event* const all = events.data();
        // Notes: 0x80 to 0x9F.
        if (status - 0x80u >= 0x20u) {
            all[i].status_case = static_cast<std::uint8_t>(cell);
            return;
        }
        waiting_notes& w = waiting != nullptr ? *waiting : take_waiting();
        const std::size_t key = (status & 0x0Fu) << 8 | first;
        const auto index = static_cast<std::int32_t>(i);
        if (status >= 0x90 && second != 0) {
            const std::int32_t tail = w.tail[key];
            w.tail[key] = index;
            if (tail != no_event) {
                all[tail].payload = static_cast<std::uint32_t>(index);
            } else {
                w.head[key] = index;
                if (!w.listed[key]) {
                    w.listed[key] = true;
                    w.used.push_back(static_cast<std::uint16_t>(key));
                }
            }
            all[i].status_case = static_cast<std::uint8_t>(cell);
        } else if (const std::int32_t start = w.head[key]; start != no_event) {
            const std::int32_t next = start == w.tail[key] ? no_event : static_cast<std::int32_t>(all[start].payload);
            w.head[key] = next;
            if (next == no_event) w.tail[key] = no_event;
            group_ends = true;
            ++end_counts[status >= 0x90 ? 0 : 1 + static_cast<std::size_t>(second)];
            all[start].partner = index;
            all[start].status_case |= status_case::start;
            all[i].partner = start;
            all[i].status_case = static_cast<std::uint8_t>(cell | status_case::end);
        } else {
            all[i].status_case = static_cast<std::uint8_t>(cell);
        }
    }

    // Counts events[i], the SysEx or meta event after those counted.
    void other(const std::vector<track_event>& events, std::size_t i, std::int64_t time) {
        counted = i + 1;
        if (time != group_time) next_tick(events, i, time);
        after_other = status_case::after_other;
    }

    // Counts the events added some other way.
    void catch_up(std::vector<track_event>& events);

    // The track is whole: its last tick counted, the starts still waiting
    // let go.
    void finish(std::vector<track_event>& events);

private:
    // The events from `i` on are at a later tick than those before.
    void next_tick(const std::vector<track_event>& events, std::size_t i, std::int64_t time) {
        if (group_ends) {
            if (i - group > 1) count_group(events);
            group_ends = false;
        }
        group = i;
        group_time = time;
    }
    void count_group(const std::vector<track_event>& events);
    waiting_notes& take_waiting();
};

}  // namespace smfasm::score
