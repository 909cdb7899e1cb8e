#include "score/tally.h"

#include "score/end_order.h"

namespace smfasm::score {

namespace {

thread_local waiting_notes thread_waiting;

}  // namespace

void track_tally::clear() {
    counted = 0;
    end_counts = {};
    case_counts = {};
    last_status = 0;
    after_other = 0;
    group = 0;
    group_time = 0;
    group_ends = false;
    groups.clear();
    order_costs = {};
    waiting = nullptr;
}

waiting_notes& track_tally::take_waiting() {
    // A track given up half counted (a file that ended early) may have
    // left starts behind.
    waiting = &thread_waiting;
    for (const std::uint16_t key : waiting->used) {
        waiting->head[key] = waiting->tail[key] = no_event;
        waiting->listed[key] = false;
    }
    waiting->used.clear();
    return *waiting;
}

void track_tally::count_group(const std::vector<track_event>& events) {
    if (count_end_group(events, group, order_costs)) groups.push_back(group);
}

void track_tally::catch_up(std::vector<track_event>& events) {
    while (counted < events.size()) {
        const track_event& e = events[counted];
        if (e.type == event_type::channel) {
            channel(events, counted, e.time, e.status, e.first, e.second, e.running);
        } else {
            other(events, counted, e.time);
        }
    }
}

void track_tally::finish(std::vector<track_event>& events) {
    next_tick(events, events.size(), group_time);
    if (waiting == nullptr) return;
    for (const std::uint16_t key : waiting->used) {
        waiting->head[key] = waiting->tail[key] = no_event;
        waiting->listed[key] = false;
    }
    waiting->used.clear();
    waiting = nullptr;
}

}  // namespace smfasm::score
