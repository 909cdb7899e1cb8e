#include "score/track.h"

#include <algorithm>
#include <array>

namespace smfasm::score {

namespace {

void pair_notes(std::vector<track_event>& events) {
    // Waiting starts per channel and key, first in first out, linked
    // through `next` so that a struck-again key costs nothing extra.
    constexpr std::size_t keys = std::size_t{16} * 256;
    std::vector<std::int32_t> head(keys, no_event);
    std::vector<std::int32_t> tail(keys, no_event);
    std::vector<std::int32_t> next(events.size(), no_event);
    for (std::size_t i = 0; i < events.size(); ++i) {
        track_event& e = events[i];
        if (e.type != event_type::channel) continue;
        const unsigned kind = e.status & 0xF0u;
        if (kind != 0x80 && kind != 0x90) continue;
        const std::size_t key = (e.status & 0x0Fu) * 256 + e.first;
        const auto index = static_cast<std::int32_t>(i);
        if (kind == 0x90 && e.second != 0) {
            if (tail[key] == no_event) {
                head[key] = index;
            } else {
                next[static_cast<std::size_t>(tail[key])] = index;
            }
            tail[key] = index;
        } else if (head[key] != no_event) {
            const std::int32_t start = head[key];
            head[key] = next[static_cast<std::size_t>(start)];
            if (head[key] == no_event) tail[key] = no_event;
            events[static_cast<std::size_t>(start)].partner = index;
            e.partner = start;
        }
    }
}

int choose_end_habit(const std::vector<track_event>& events) {
    std::array<std::int64_t, 257> counts{};  // [0] note-on, [1 + v] note-off at v
    for (const track_event& e : events) {
        if (e.is_end()) ++counts[end_kind(e) == end_by_note_on ? 0 : 1 + static_cast<std::size_t>(e.second)];
    }
    // The default wins ties, then a note-on, then the lowest velocity.
    std::size_t best = 1 + 64;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] > counts[best]) best = i;
    }
    return best == 0 ? end_by_note_on : static_cast<int>(best - 1);
}

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

// For every tick: the ends the rule places need no mark. The rule puts the
// ends of a tick before its other events, in the order their notes began
// (or its reverse); so an end behind another event of its tick, or out of
// that order, keeps its place at the tick as a mark. Only ticks of several
// events can need one: `groups` holds where each such tick begins, and
// `costs` the marks each order costs (first-begun, latest-begun).
void find_groups(const std::vector<track_event>& events, std::vector<std::size_t>& groups) {
    groups.clear();
    for (std::size_t i = 1; i < events.size(); ++i) {
        if (events[i].time == events[i - 1].time && (groups.empty() || events[groups.back()].time != events[i].time)) {
            groups.push_back(i - 1);
        }
    }
}

void place_ends(std::vector<track_event>& events, const std::vector<std::size_t>& groups,
                std::array<std::size_t, 2>& costs, bool reverse, bool apply) {
    std::vector<std::int64_t> keys;
    std::vector<std::size_t> prefix;
    std::vector<bool> keep;
    const auto mark = [&events](std::size_t at, std::size_t group) {
        events[static_cast<std::size_t>(events[at].partner)].end_position = static_cast<std::int32_t>(at - group);
    };
    for (const std::size_t g : groups) {
        std::size_t end = g + 1;
        while (end < events.size() && events[end].time == events[g].time) ++end;
        std::size_t i = g;
        while (i < end && events[i].is_end()) ++i;
        std::size_t later = 0;
        for (std::size_t j = i; j < end; ++j) later += events[j].is_end() ? 1 : 0;
        const std::size_t ends = i - g;
        if (ends > 1) {
            keys.clear();
            prefix.clear();
            for (std::size_t k = g; k < i; ++k) {
                prefix.push_back(k);
                keys.push_back(events[k].partner);
            }
            for (const bool backwards : {false, true}) {
                if (backwards) {
                    for (std::int64_t& key : keys) key = -key;
                }
                const bool chosen = apply && backwards == reverse;
                const std::size_t kept = longest_rising(keys, chosen ? &keep : nullptr);
                costs[backwards ? 1 : 0] += ends - kept + later;
                if (chosen) {
                    for (std::size_t k = 0; k < prefix.size(); ++k) {
                        if (!keep[k]) mark(prefix[k], g);
                    }
                }
            }
        } else {
            costs[0] += later;
            costs[1] += later;
        }
        if (apply) {
            for (std::size_t j = i; j < end; ++j) {
                if (events[j].is_end()) mark(j, g);
            }
        }
    }
}

// Counts, for each channel slot, the events where the rule could leave the
// status byte out and the file did or did not, and the events the file ran
// where the rule cannot; for both carry habits at once (index 0: running
// status forgotten at meta events and SysEx, 1: carried across).
struct status_counts {
    std::array<std::int64_t, channel_slot_count> left_out{};
    std::array<std::int64_t, channel_slot_count> written{};
    std::array<std::int64_t, channel_slot_count> forced{};
};

std::array<status_counts, 2> count_status(const std::vector<track_event>& events) {
    std::array<status_counts, 2> counts;
    int forgetting = 0;  // the rule's status when meta events forget it
    int carried = 0;     // and when they do not: the last channel status
    for (const track_event& e : events) {
        if (e.type != event_type::channel) {
            forgetting = 0;
            continue;
        }
        const channel_slot slot = slot_of_status(e.status);
        const bool data = e.first < 0x80;
        for (std::size_t carry = 0; carry < 2; ++carry) {
            const int rule = carry != 0 ? carried : forgetting;
            status_counts& c = counts[carry];
            if (e.status == rule && data) {
                ++(e.running ? c.left_out : c.written)[slot];
            } else if (e.running) {
                ++c.forced[slot];
            }
        }
        forgetting = carried = e.status;
    }
    return counts;
}

// The running habit per slot for `carry`, and the marks it leaves.
std::int64_t choose_running(const status_counts& counts, unsigned& running) {
    std::int64_t marks = 0;
    running = 0;
    for (std::size_t s = 0; s < channel_slot_count; ++s) {
        if (counts.left_out[s] >= counts.written[s]) {
            running |= 1u << s;
            marks += counts.written[s] + counts.forced[s];
        } else {
            marks += counts.left_out[s] + counts.forced[s];
        }
    }
    return marks;
}

void mark_status(std::vector<track_event>& events, const track_habits& habits) {
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
}

}  // namespace

track_habits analyse_track(track_record& track) {
    std::vector<track_event>& events = track.events;
    pair_notes(events);
    track_habits habits;
    habits.end_velocity = choose_end_habit(events);
    std::vector<std::size_t> groups;
    find_groups(events, groups);
    std::array<std::size_t, 2> costs{};
    place_ends(events, groups, costs, false, false);
    habits.reverse = costs[1] < costs[0];
    place_ends(events, groups, costs, habits.reverse, true);
    unsigned running_plain = 0;
    unsigned running_carried = 0;
    const std::array<status_counts, 2> counts = count_status(events);
    const std::int64_t plain = choose_running(counts[0], running_plain);
    const std::int64_t carried = choose_running(counts[1], running_carried);
    habits.carry = carried < plain;
    habits.running = habits.carry ? running_carried : running_plain;
    mark_status(events, habits);
    return habits;
}

}  // namespace smfasm::score
