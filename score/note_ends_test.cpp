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

// The same against a sorted list over the whole range of lengths, from ends
// at the tick being written to ends 2^45 ticks on, while the listing now
// and then goes back in time, with orders that rise, fall or come in any
// order.
TEST(NoteEnds, EndsOfEveryLengthComeByTimeAndOrderAsASortWould) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937_64 random(seed);
        note_ends ends;
        std::vector<pending_end> waiting;
        std::int64_t now = 0;
        std::int64_t begun = 0;
        // Now and then only some of the ends due are taken, as when a mark
        // holds one back: the others wait, and ends added then join them.
        const auto take_before = [&](std::int64_t time, bool all) {
            std::uint64_t left = all || random() % 4 != 0 ? ~std::uint64_t{0} : random() % 3;
            while (left-- != 0) {
                const pending_end* e = all ? ends.next_any() : ends.next_before(time);
                if (e == nullptr) break;
                const auto first = std::min_element(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) {
                    return a.time != b.time ? a.time < b.time : a.order < b.order;
                });
                ASSERT_NE(first, waiting.end());
                ASSERT_TRUE(all || first->time <= time);
                ASSERT_EQ(e->key, first->key) << "seed " << seed;
                waiting.erase(first);
                ends.written(e->time);
            }
        };
        for (int step = 0; step < 4000; ++step) {
            const std::uint64_t kind = random() % 100;
            if (kind < 2 && now > 100) {
                now -= static_cast<std::int64_t>(random() % 100);  // back in time
            } else {
                now += static_cast<std::int64_t>(random() % 2 == 0 ? 0 : random() % (kind < 50 ? 4 : 70000));
            }
            take_before(now, false);
            if (::testing::Test::HasFatalFailure()) return;
            for (std::uint64_t added = random() % 4; added-- != 0;) {
                const unsigned bits = static_cast<unsigned>(random() % 46);
                pending_end end;
                end.time =
                    now + static_cast<std::int64_t>(random() % 3 == 0 ? 0 : random() % (std::uint64_t{1} << bits));
                end.order = seed % 3 == 0 ? begun : seed % 3 == 1 ? -begun : static_cast<std::int64_t>(random() >> 20);
                end.key = static_cast<int>(begun);
                ++begun;
                ends.add(end);
                waiting.push_back(end);
            }
            ends.written(now);
            ASSERT_EQ(ends.size(), waiting.size());
        }
        take_before(0, true);
        EXPECT_TRUE(waiting.empty());
        EXPECT_TRUE(ends.empty());
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
