#include "score/tally.h"

#include "score/end_order.h"

namespace smfasm::score {

namespace {

thread_local waiting_notes thread_waiting;

// Forgets every start still waiting, by the keys that were used.
void let_go(waiting_notes& w) {
    for (const std::uint16_t key : w.used) {
        w.head[key] = w.tail[key] = no_event;
        w.listed[key] = false;
    }
    w.used.clear();
}

}  // namespace

void track_tally::clear() {
    end_counts = {};
    case_counts = {};
    groups.clear();
    order_costs = {};
    now = tally_state{};
    waiting = nullptr;
}

waiting_notes& track_tally::take_waiting() {
    // A track given up half counted (a file that ended early) may have
    // left starts behind.
    waiting = &thread_waiting;
    let_go(*waiting);
    return *waiting;
}

void track_tally::list_key(waiting_notes& w, std::size_t key) {
    w.listed[key] = true;
    w.used.push_back(static_cast<std::uint16_t>(key));
}

void track_tally::count_group(const track_event* all, std::size_t group, std::size_t end) {
    if (count_end_group(all, group, end, order_costs)) groups.push_back(group);
}

void track_tally::catch_up(event_list& events) {
    if (now.counted == events.size()) return;
    waiting_notes& w = notes();
    track_event* const all = events.data();
    while (now.counted < events.size()) {
        const track_event e = all[now.counted];
        const std::size_t i = now.counted;
        if (e.type == event_type::channel) {
            channel(now, w, all, i > 0 && e.time != all[i - 1].time, e.time, e.status, e.first, e.second, e.running);
        } else {
            other(now, all);
        }
    }
}

void track_tally::finish(const event_list& events) {
    if (now.group_ends && events.size() - now.group > 1) count_group(events.data(), now.group, events.size());
    now.group_ends = false;
    if (waiting == nullptr) return;
    let_go(*waiting);
    waiting = nullptr;
}

}  // namespace smfasm::score
