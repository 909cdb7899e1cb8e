// Where the ends of a tick stand. The rule puts them before the tick's
// other events, in the order their notes began (or its reverse); so an end
// behind another event of its tick, or out of that order, keeps its place
// at the tick as a mark. Only ticks of several events with an end among
// them can need one: the analysis counts what each order costs at each,
// and marks them once the order is chosen.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "score/event_list.h"
#include "score/track_event.h"

namespace smfasm::score {

// Adds the marks each order (first-begun, latest-begun) needs at the tick
// whose events are events[g] to events[end - 1], their notes paired; false
// when neither needs any, and the tick need not be marked.
bool count_end_group(const track_event* events, std::size_t g, std::size_t end, std::array<std::size_t, 2>& costs);

// Sets the end positions the ticks at `groups` need in the chosen order.
void mark_end_groups(event_list& events, const std::vector<std::size_t>& groups, bool reverse);

}  // namespace smfasm::score
