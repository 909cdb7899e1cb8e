#include "score/end_order.h"

#include <algorithm>

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

std::size_t group_end(const event_list& events, std::size_t g) {
    std::size_t end = g + 1;
    while (end < events.size() && events[end].time == events[g].time) ++end;
    return end;
}

// The ends leading the tick's events at `g`, as the keys of their order
// (their notes' starts), and the count of ends behind another event.
std::size_t leading_ends(const track_event* events, std::size_t g, std::size_t end, std::vector<std::int64_t>& keys) {
    keys.clear();
    std::size_t i = g;
    for (; i < end && events[i].is_end(); ++i) keys.push_back(events[i].partner);
    std::size_t later = 0;
    for (; i < end; ++i) later += events[i].is_end() ? 1 : 0;
    return later;
}

}  // namespace

bool count_end_group(const track_event* events, std::size_t g, std::size_t end, std::array<std::size_t, 2>& costs) {
    thread_local std::vector<std::int64_t> keys;
    const std::size_t later = leading_ends(events, g, end, keys);
    const std::size_t ends = keys.size();
    if (ends < 2 && later == 0) return false;
    costs[0] += later;
    costs[1] += later;
    if (ends < 2) return true;
    costs[0] += ends - longest_rising(keys, nullptr);
    for (std::int64_t& key : keys) key = -key;
    costs[1] += ends - longest_rising(keys, nullptr);
    return true;
}

void mark_end_groups(event_list& events, const std::vector<std::size_t>& groups, bool reverse) {
    std::vector<std::int64_t> keys;
    std::vector<bool> keep;
    const auto mark = [&events](std::size_t at, std::size_t group) {
        events[static_cast<std::size_t>(events[at].partner)].end_position = static_cast<std::int32_t>(at - group);
    };
    for (const std::size_t g : groups) {
        const std::size_t end = group_end(events, g);
        leading_ends(events.data(), g, end, keys);
        const std::size_t ends = keys.size();
        if (ends > 1) {
            if (reverse) {
                for (std::int64_t& key : keys) key = -key;
            }
            longest_rising(keys, &keep);
            for (std::size_t k = 0; k < ends; ++k) {
                if (!keep[k]) mark(g + k, g);
            }
        }
        for (std::size_t j = g + ends; j < end; ++j) {
            if (events[j].is_end()) mark(j, g);
        }
    }
}

}  // namespace smfasm::score
