#include "score/track.h"

#include <array>

#include "score/end_order.h"

namespace smfasm::score {

namespace {

// The running habit per slot from the events of each status case, for
// running status carried across meta events and SysEx or not, and the
// marks it leaves: per slot, the events where the rule could leave the
// status byte out and the file did or did not, and those the file ran
// where the rule cannot.
std::int64_t choose_running(const std::array<std::int64_t, status_case::rule_cases>& counts, bool carry,
                            unsigned& running) {
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

}  // namespace

track_habits analyse_track(track_record& track) {
    track_tally& tally = track.tally;
    tally.catch_up(track.events);
    tally.finish(track.events);
    track_habits habits;
    habits.end_velocity = choose_end_habit(tally.end_counts);
    habits.reverse = tally.order_costs[1] < tally.order_costs[0];
    mark_end_groups(track.events, tally.groups, habits.reverse);
    unsigned running_plain = 0;
    unsigned running_carried = 0;
    const std::int64_t plain = choose_running(tally.case_counts, false, running_plain);
    const std::int64_t carried = choose_running(tally.case_counts, true, running_carried);
    habits.carry = carried < plain;
    habits.running = habits.carry ? running_carried : running_plain;
    return habits;
}

status_mark_table status_marks(const track_habits& habits) {
    status_mark_table table{};
    for (unsigned c = 0; c < status_case::rule_cases; ++c) {
        track_event e;
        e.status_case = static_cast<std::uint8_t>(c);
        e.running = (c & status_case::ran) != 0;
        table[c] = mark_of(e, habits);
    }
    // A note's start or end is marked as any other event of its case.
    for (unsigned c = status_case::rule_cases; c < status_case::count; ++c)
        table[c] = table[c % status_case::rule_cases];
    return table;
}

}  // namespace smfasm::score
