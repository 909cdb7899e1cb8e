// The held track's own container: events written in place and counted
// afterwards, through every growth, must read back as a vector of the same
// events would; copies are deep and a moved-from list is empty and usable.
#include "score/event_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace smfasm::score {
namespace {

track_event numbered(std::int64_t i) {
    track_event e{};
    e.time = i * 7;
    e.status = static_cast<std::uint8_t>(0x80 + i % 0x70);
    e.first = static_cast<std::uint8_t>(i % 128);
    e.partner = static_cast<std::int32_t>(i - 1);
    return e;
}

void expect_numbered(const event_list& list, std::size_t count, const char* what) {
    ASSERT_EQ(list.size(), count) << what;
    for (std::size_t i = 0; i < count; ++i) {
        const track_event want = numbered(static_cast<std::int64_t>(i));
        ASSERT_EQ(list[i].time, want.time) << what << " " << i;
        ASSERT_EQ(list[i].status, want.status) << what << " " << i;
        ASSERT_EQ(list[i].first, want.first) << what << " " << i;
        ASSERT_EQ(list[i].partner, want.partner) << what << " " << i;
    }
}

TEST(EventList, GrowsCopiesAndMovesAsAVectorWould) {
    event_list list;
    std::size_t count = 0;
    // Runs of every size written in place, with single adds between them,
    // so that growth falls inside runs and between them.
    for (std::size_t run = 1; run < 300; run += 37) {
        track_event* at = list.room(run);
        for (std::size_t k = 0; k < run; ++k) at[k] = numbered(static_cast<std::int64_t>(count + k));
        list.added(run);
        count += run;
        list.push_back(numbered(static_cast<std::int64_t>(count++)));
        list.emplace_back() = numbered(static_cast<std::int64_t>(count++));
    }
    expect_numbered(list, count, "after growing");

    event_list copy(list);
    copy[0].time = -1;
    EXPECT_EQ(list[0].time, 0) << "a copy shares no storage";
    copy = list;
    expect_numbered(copy, count, "assigned");
    const event_list& same = copy;
    copy = same;
    expect_numbered(copy, count, "assigned to itself");

    event_list moved(std::move(copy));
    expect_numbered(moved, count, "moved");
    EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): a moved-from list is empty and usable
    copy.push_back(numbered(0));
    expect_numbered(copy, 1, "reused after the move");

    moved.clear();
    EXPECT_TRUE(moved.empty());
    moved = std::move(list);
    expect_numbered(moved, count, "move-assigned");
}

}  // namespace
}  // namespace smfasm::score
