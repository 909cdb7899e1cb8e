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

// For each channel slot, the events where the rule could leave the status
// byte out and the file did (left_out) or did not (written), and the events
// the file ran where the rule cannot (forced); a fourth count takes the
// rest, so that every event counts once with no test.
enum status_count : std::size_t { left_out, written, forced, unmarked, status_count_kinds };
using status_counts = std::array<std::array<std::int64_t, status_count_kinds>, channel_slot_count>;

// The running habit per slot from the counts, and the marks it leaves.
std::int64_t choose_running(const status_counts& counts, unsigned& running) {
    std::int64_t marks = 0;
    running = 0;
    for (std::size_t s = 0; s < channel_slot_count; ++s) {
        const auto& c = counts[s];
        if (c[left_out] >= c[written]) {
            running |= 1u << s;
            marks += c[written] + c[forced];
        } else {
            marks += c[left_out] + c[forced];
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

}  // namespace

track_habits analyse_track(track_record& track) {
    std::vector<track_event>& events = track.events;
    // Reentrant across threads; the lists are left empty by every call.
    thread_local waiting_notes waiting;
    thread_local end_groups groups;
    groups.begins.clear();
    groups.costs = {};
    std::array<std::int64_t, 257> end_counts{};  // [0] note-on, [1 + v] note-off at v
    std::array<status_counts, 2> counts{};       // running status forgotten at meta events and SysEx, carried
    int forgetting = 0;                          // the rule's status when meta events forget it
    int carried = 0;                             // and when they do not: the last channel status
    std::size_t group = 0;                       // where the events of the current tick begin
    bool group_ends = false;                     // and whether an end is among them

    const std::size_t n = events.size();
    for (std::size_t i = 0; i < n; ++i) {
        track_event& e = events[i];
        if (e.time != events[group].time) {
            if (group_ends && i - group > 1) count_group(events, group, groups);
            group = i;
            group_ends = false;
        }
        if (e.type != event_type::channel) {
            forgetting = 0;
            continue;
        }
        const channel_slot slot = slot_of_status(e.status);
        const bool data = e.first < 0x80;
        const auto kind_under = [&e, data](int rule) {
            return e.status == rule && data ? (e.running ? left_out : written) : e.running ? forced : unmarked;
        };
        ++counts[0][slot][kind_under(forgetting)];
        ++counts[1][slot][kind_under(carried)];
        forgetting = carried = e.status;

        const unsigned kind = e.status & 0xF0u;
        if (kind != 0x80 && kind != 0x90) continue;
        const std::size_t key = (e.status & 0x0Fu) * 256 + e.first;
        const auto index = static_cast<std::int32_t>(i);
        if (kind == 0x90 && e.second != 0) {
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
            ++end_counts[kind == 0x90 ? 0 : 1 + static_cast<std::size_t>(e.second)];
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
    const std::int64_t plain = choose_running(counts[0], running_plain);
    const std::int64_t carried_marks = choose_running(counts[1], running_carried);
    habits.carry = carried_marks < plain;
    habits.running = habits.carry ? running_carried : running_plain;

    running_rule rule;
    for (track_event& e : events) {
        if (e.type != event_type::channel) {
            rule.other(habits);
            continue;
        }
        const bool omitted = rule.omits(habits, e.status, e.first);
        e.mark = omitted == e.running ? status_as_rule : e.running ? status_left_out : status_written;
        rule.channel(e.status);
    }
    return habits;
}

}  // namespace smfasm::score
