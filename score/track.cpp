#include "score/track.h"

#include <algorithm>
#include <array>

namespace smfasm::score {

namespace {

// The longest run of `keys` (in order) that rises; `keep` marks its members.
std::size_t longest_rising(const std::vector<std::int64_t>& keys, std::vector<bool>* keep) {
    const std::size_t n = keys.size();
    std::vector<std::size_t> tails;  // index of the smallest tail of each length
    std::vector<std::size_t> before(n, n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), keys[i],
                                         [&keys](std::size_t j, std::int64_t k) { return keys[j] < k; });
        if (at != tails.begin()) before[i] = *(at - 1);
        if (at == tails.end()) {
            tails.push_back(i);
        } else {
            *at = i;
        }
    }
    if (keep != nullptr) {
        keep->assign(n, false);
        for (std::size_t i = tails.empty() ? n : tails.back(); i < n; i = before[i]) (*keep)[i] = true;
    }
    return tails.size();
}

// The rule puts the ends of a tick before its other events, in the order
// their notes began (or its reverse); so an end behind another event of its
// tick, or out of that order, keeps its place at the tick as a mark. Only
// ticks of several events holding an end can need one: the analysis keeps
// where each begins, and what each order costs in marks (first-begun,
// latest-begun), and marks them once the order is chosen.
struct end_groups {
    std::vector<std::size_t> begins;
    std::array<std::size_t, 2> costs{};
    std::vector<std::int64_t> keys;
    std::vector<bool> keep;
};

std::size_t group_end(const std::vector<track_event>& events, std::size_t g) {
    std::size_t end = g + 1;
    while (end < events.size() && events[end].time == events[g].time) ++end;
    return end;
}

// The ends leading the tick's events at `g`, as the keys of their order
// (their notes' starts), and the count of ends behind another event.
std::size_t leading_ends(const std::vector<track_event>& events, std::size_t g, std::size_t end,
                         std::vector<std::int64_t>& keys) {
    keys.clear();
    std::size_t i = g;
    for (; i < end && events[i].is_end(); ++i) keys.push_back(events[i].partner);
    std::size_t later = 0;
    for (; i < end; ++i) later += events[i].is_end() ? 1 : 0;
    return later;
}

void count_group(const std::vector<track_event>& events, std::size_t g, end_groups& groups) {
    const std::size_t later = leading_ends(events, g, group_end(events, g), groups.keys);
    const std::size_t ends = groups.keys.size();
    if (ends < 2 && later == 0) return;
    groups.begins.push_back(g);
    groups.costs[0] += later;
    groups.costs[1] += later;
    if (ends < 2) return;
    groups.costs[0] += ends - longest_rising(groups.keys, nullptr);
    for (std::int64_t& key : groups.keys) key = -key;
    groups.costs[1] += ends - longest_rising(groups.keys, nullptr);
}

void mark_groups(std::vector<track_event>& events, end_groups& groups, bool reverse) {
    const auto mark = [&events](std::size_t at, std::size_t group) {
        events[static_cast<std::size_t>(events[at].partner)].end_position = static_cast<std::int32_t>(at - group);
    };
    for (const std::size_t g : groups.begins) {
        const std::size_t end = group_end(events, g);
        leading_ends(events, g, end, groups.keys);
        const std::size_t ends = groups.keys.size();
        if (ends > 1) {
            if (reverse) {
                for (std::int64_t& key : groups.keys) key = -key;
            }
            longest_rising(groups.keys, &groups.keep);
            for (std::size_t k = 0; k < ends; ++k) {
                if (!groups.keep[k]) mark(g + k, g);
            }
        }
        for (std::size_t j = g + ends; j < end; ++j) {
            if (events[j].is_end()) mark(j, g);
        }
    }
}

// The running habit per slot from the events of each status case, for
// running status carried across meta events and SysEx or not, and the
// marks it leaves: per slot, the events where the rule could leave the
// status byte out and the file did or did not, and those the file ran
// where the rule cannot.
std::int64_t choose_running(const std::array<std::int64_t, status_case::count>& counts, bool carry, unsigned& running) {
    std::int64_t marks = 0;
    running = 0;
    for (std::size_t s = 0; s < channel_slot_count; ++s) {
        std::int64_t left_out = 0;
        std::int64_t written = 0;
        std::int64_t forced = 0;
        for (unsigned c = 0; c < 8; ++c) {
            const std::int64_t n = counts[s * 8 + c];
            const bool repeats = (c & status_case::repeats) != 0 && (carry || (c & status_case::after_other) == 0);
            if ((c & status_case::ran) != 0) {
                (repeats ? left_out : forced) += n;
            } else if (repeats) {
                written += n;
            }
        }
        if (left_out >= written) {
            running |= 1u << s;
            marks += written + forced;
        } else {
            marks += left_out + forced;
        }
    }
    return marks;
}

int choose_end_habit(const std::array<std::int64_t, 257>& counts) {
    // The default wins ties, then a note-on, then the lowest velocity.
    std::size_t best = 1 + 64;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] > counts[best]) best = i;
    }
    return best == 0 ? end_by_note_on : static_cast<int>(best - 1);
}

// Starts waiting for their end, per channel and key, first in first out.
// A waiting start's partner links to the start struck after it on its key,
// so that a struck-again key costs nothing extra; the lists are emptied
// again (only the keys used) before the analysis returns.
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

void release_waiting(std::vector<track_event>& events, waiting_notes& waiting) {
    for (const std::uint16_t key : waiting.used) {
        for (std::int32_t i = waiting.head[key]; i != no_event;) {
            const std::int32_t next = events[static_cast<std::size_t>(i)].partner;
            events[static_cast<std::size_t>(i)].partner = no_event;
            i = next;
        }
        waiting.head[key] = waiting.tail[key] = no_event;
        waiting.listed[key] = false;
    }
    waiting.used.clear();
}

// The slot of each channel status's high nibble, as a status case.
constexpr std::array<std::uint8_t, 16> slot_cases = [] {
    std::array<std::uint8_t, 16> cases{};
    for (unsigned nibble = 8; nibble < 15; ++nibble) {
        cases[nibble] = static_cast<std::uint8_t>(status_case::of_slot(slot_of_nibble[nibble & 7]));
    }
    return cases;
}();

}  // namespace

track_habits analyse_track(track_record& track) {
    std::vector<track_event>& events = track.events;
    // Reentrant across threads; the lists are left empty by every call.
    thread_local waiting_notes waiting;
    thread_local end_groups groups;
    groups.begins.clear();
    groups.costs = {};
    std::array<std::int64_t, 257> end_counts{};  // [0] note-on, [1 + v] note-off at v
    std::array<std::int64_t, status_case::count> case_counts{};
    unsigned last_status = 0;  // of the channel event before
    unsigned after_other = 0;  // status_case::after_other when a meta event or SysEx came since
    std::size_t group = 0;     // where the events of the current tick begin
    std::int64_t group_time = 0;
    bool group_ends = false;  // and whether an end is among them

    const std::size_t n = events.size();
    if (n > 0) group_time = events[0].time;
    for (std::size_t i = 0; i < n; ++i) {
        track_event& e = events[i];
        if (e.time != group_time) {
            if (group_ends && i - group > 1) count_group(events, group, groups);
            group = i;
            group_time = e.time;
            group_ends = false;
        }
        if (e.type != event_type::channel) {
            after_other = status_case::after_other;
            continue;
        }
        const unsigned status = e.status;
        const unsigned cell = slot_cases[status >> 4] | (e.running ? status_case::ran : 0u) | after_other |
                              (status == last_status && e.first < 0x80 ? status_case::repeats : 0u);
        e.status_case = static_cast<std::uint8_t>(cell);
        ++case_counts[cell];
        last_status = status;
        after_other = 0;

        // Notes: 0x80 to 0x9F.
        if (status - 0x80u >= 0x20u) continue;
        const std::size_t key = (status & 0x0Fu) << 8 | e.first;
        const auto index = static_cast<std::int32_t>(i);
        if (status >= 0x90 && e.second != 0) {
            e.partner = no_event;
            if (waiting.tail[key] == no_event) {
                if (!waiting.listed[key]) {
                    waiting.listed[key] = true;
                    waiting.used.push_back(static_cast<std::uint16_t>(key));
                }
                waiting.head[key] = index;
            } else {
                events[static_cast<std::size_t>(waiting.tail[key])].partner = index;
            }
            waiting.tail[key] = index;
        } else if (const std::int32_t start = waiting.head[key]; start != no_event) {
            track_event& begun = events[static_cast<std::size_t>(start)];
            waiting.head[key] = begun.partner;
            if (begun.partner == no_event) waiting.tail[key] = no_event;
            begun.partner = index;
            e.partner = start;
            group_ends = true;
            ++end_counts[status >= 0x90 ? 0 : 1 + static_cast<std::size_t>(e.second)];
        }
    }
    if (group_ends && n - group > 1) count_group(events, group, groups);
    release_waiting(events, waiting);

    track_habits habits;
    habits.end_velocity = choose_end_habit(end_counts);
    habits.reverse = groups.costs[1] < groups.costs[0];
    mark_groups(events, groups, habits.reverse);
    unsigned running_plain = 0;
    unsigned running_carried = 0;
    const std::int64_t plain = choose_running(case_counts, false, running_plain);
    const std::int64_t carried = choose_running(case_counts, true, running_carried);
    habits.carry = carried < plain;
    habits.running = habits.carry ? running_carried : running_plain;
    return habits;
}

status_mark_table status_marks(const track_habits& habits) {
    status_mark_table table{};
    for (unsigned c = 0; c < status_case::count; ++c) {
        track_event e;
        e.status_case = static_cast<std::uint8_t>(c);
        e.running = (c & status_case::ran) != 0;
        table[c] = mark_of(e, habits);
    }
    return table;
}

}  // namespace smfasm::score
