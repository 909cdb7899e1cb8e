#include "score/note_ends.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace smfasm::score {
namespace {

// Thousands of unmarked ends sounding at once, added while earlier ones are
// taken: they come by time, and at one tick by the habit's order, as a
// sorted list of them says.
TEST(NoteEnds, ManyUnmarkedEndsComeByTimeAndOrder) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        std::mt19937 random(seed);
        note_ends ends;
        ends.clear();
        std::vector<pending_end> waiting;  // the model
        std::int64_t now = 0;
        std::int64_t begun = 0;
        for (int step = 0; step < 20000; ++step) {
            now += static_cast<std::int64_t>(random() % 4);
            while (const pending_end* e = ends.next_before(now)) {
                const auto first = std::min_element(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
                    return a.time != b.time ? a.time < b.time : a.order < b.order;
                });
                ASSERT_NE(first, waiting.end());
                ASSERT_LE(first->time, now);
                EXPECT_EQ(e->key, first->key);
                EXPECT_EQ(e->time, first->time);
                waiting.erase(first);
                ends.written(e->time);
            }
            pending_end end;
            // Short and long notes, many ending on one tick.
            end.time = now + static_cast<std::int64_t>(random() % 3 == 0 ? random() % 8 : random() % 5000);
            end.order = seed % 2 == 0 ? begun : -begun;
            end.key = static_cast<int>(begun);
            ++begun;
            ends.add(end);
            waiting.push_back(end);
            ends.written(now);
        }
        EXPECT_EQ(ends.size(), waiting.size());
    }
}

// Ends that share a tick wait apart from the others once the first of
// them is taken: an end added at that tick joins them in the habit's order,
// and one added before it (a listing going back in time) still comes first.
TEST(NoteEnds, EndsSharingATickKeepTheirOrderAgainstLateAdds) {
    note_ends ends;
    ends.clear();
    const auto add = [&ends](std::int64_t time, std::int64_t order) {
        pending_end end;
        end.time = time;
        end.order = order;
        end.key = static_cast<int>(order + 10);
        ends.add(end);
    };
    add(10, 2);
    add(20, 0);
    add(10, 0);
    add(10, 1);
    std::vector<int> keys;
    keys.push_back(ends.next_before(11)->key);
    add(10, -1);
    add(5, 3);
    while (const pending_end* end = ends.next_any()) keys.push_back(end->key);
    EXPECT_EQ(keys, (std::vector<int>{10, 13, 9, 11, 12, 10}));
    EXPECT_TRUE(ends.empty());
}

}  // namespace
}  // namespace smfasm::score
