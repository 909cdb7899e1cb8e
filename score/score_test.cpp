// The score form's core on its own: the metre map both directions read,
// the note values and tempos it spells, and the end placement rule.
#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

#include "score/metre_map.h"
#include "score/note_ends.h"
#include "score/note_values.h"

namespace smfasm::score {
namespace {

TEST(MetreMap, BarsCountFromOneAndASignatureInsideABarStartsANewOne) {
    metre_map map;
    map.reset(96);
    bar_time t;
    ASSERT_TRUE(map.to_bars(0, t));
    EXPECT_EQ((std::array{t.bar, t.beat, t.tick}), (std::array<std::int64_t, 3>{1, 1, 0}));
    // 3/4 two and a half bars of 4/4 in: bar 3 is cut short, bar 4 starts there.
    map.add_time_signature(2 * 384 + 192, 3, 2);
    ASSERT_TRUE(map.to_bars(2 * 384 + 191, t));
    EXPECT_EQ((std::array{t.bar, t.beat, t.tick}), (std::array<std::int64_t, 3>{3, 2, 95}));
    ASSERT_TRUE(map.to_bars(2 * 384 + 192 + 288 + 97, t));
    EXPECT_EQ((std::array{t.bar, t.beat, t.tick}), (std::array<std::int64_t, 3>{5, 2, 1}));
    // Every time maps back through the bar's segment.
    for (std::int64_t time = 0; time < 3000; time += 7) {
        ASSERT_TRUE(map.to_bars(time, t));
        const metre_segment* s = map.segment_of_bar(t.bar);
        EXPECT_EQ(s->start + (t.bar - s->first_bar) * s->ticks_per_bar() + (t.beat - 1) * s->ticks_per_beat + t.tick,
                  time);
    }
    // No beats: SMPTE time, or a beat shorter than a tick.
    map.reset(0);
    EXPECT_FALSE(map.to_bars(10, t));
    map.reset(1);
    map.add_time_signature(0, 4, 4);
    EXPECT_FALSE(map.to_bars(10, t));
}

// Both directions read the same map: every time written as bar:beat:tick
// reads back through the run of its bar, whatever the signatures (inside a
// bar, several at one tick, a beat shorter than a tick) and in whatever
// order the times are asked for.
TEST(MetreMap, EveryTimeReadsBackThroughItsBarsRunUnderRandomSignatures) {
    std::uint32_t s = 7;
    std::size_t read_back = 0;
    const auto below = [&s](std::uint32_t n) { return ((s = s * 1664525u + 1013904223u) >> 8) % n; };
    for (int round = 0; round < 50; ++round) {
        metre_map map;
        map.reset(static_cast<int>(24 + below(1000)));
        std::int64_t time = 0;
        for (int n = 0; n < 8; ++n) {
            time += below(3) == 0 ? 0 : below(5000);
            // Exponents up to 12: some beats come out shorter than a tick.
            map.add_time_signature(time, static_cast<int>(below(9)), static_cast<int>(below(13)));
        }
        std::vector<std::pair<std::int64_t, bar_time>> asked;
        for (int n = 0; n < 400; ++n) {
            const std::int64_t t = below(time + 10000);
            bar_time bars;
            if (!map.to_bars(t, bars)) continue;
            asked.emplace_back(t, bars);
            ++read_back;
            const bar_run& run = map.run_of_bar(bars.bar);
            ASSERT_EQ(run.start + (bars.bar - run.first_bar) * run.ticks_per_bar +
                          (bars.beat - 1) * run.ticks_per_beat + bars.tick,
                      t)
                << "round " << round;
            ASSERT_LT(t, run.next_start);
            const metre_segment* segment = map.segment_of_bar(bars.bar);
            ASSERT_EQ(segment->ticks_per_beat, run.ticks_per_beat);
        }
        // The same answers again, asked in the other order.
        for (auto it = asked.rbegin(); it != asked.rend(); ++it) {
            bar_time bars;
            ASSERT_TRUE(map.to_bars(it->first, bars));
            ASSERT_EQ((std::array{bars.bar, bars.beat, bars.tick}),
                      (std::array{it->second.bar, it->second.beat, it->second.tick}));
        }
        // And in time order from a kept beat, counted on over steps short
        // and long (within a beat, to the next beats, across signatures).
        beat_span kept;
        for (std::int64_t t = 0; t < time + 10000; t += below(4) == 0 ? below(3000) : below(60)) {
            bar_time bars;
            const bool placed = map.to_bars(t, bars);
            ASSERT_EQ(kept.holds(t) || map.find_beat(t, kept), placed) << "round " << round << " time " << t;
            if (!placed) continue;
            const bar_time counted = kept.at(t);
            ASSERT_EQ((std::array{counted.bar, counted.beat, counted.tick}),
                      (std::array{bars.bar, bars.beat, bars.tick}))
                << "round " << round << " time " << t;
        }
    }
    EXPECT_GT(read_back, 5000U);
}

TEST(NoteValues, ExactValuesOnlyAndTheirReading) {
    EXPECT_EQ(note_value_text(96, 96), "1/4");
    EXPECT_EQ(note_value_text(144, 96), "1/4.");
    EXPECT_EQ(note_value_text(32, 96), "1/8t");
    EXPECT_EQ(note_value_text(384, 96), "1/1");
    EXPECT_EQ(note_value_text(95, 96), "");
    EXPECT_EQ(note_value_text(3, 96), "");  // 1/128 is no value
    std::int64_t ticks = 0;
    EXPECT_EQ(read_note_value("1/8t", 96, ticks), 4);
    EXPECT_EQ(ticks, 32);
    EXPECT_EQ(read_note_value("3/8", 96, ticks), 3);
    EXPECT_EQ(ticks, 144);
    EXPECT_EQ(read_note_value("1/64", 100, ticks), -1);  // 6.25 ticks
    EXPECT_EQ(read_note_value("1/3", 96, ticks), 0);
    EXPECT_EQ(read_note_value("96", 96, ticks), 0);
    for (int division : {96, 120, 480, 384, 1000}) {
        for (std::int64_t length = 1; length <= 8 * division; ++length) {
            const std::string text = note_value_text(length, division);
            if (text.empty()) continue;
            ASSERT_EQ(read_note_value(text, division, ticks), static_cast<int>(text.size()));
            EXPECT_EQ(ticks, length) << text;
        }
    }
}

TEST(NoteValues, TempoInBeatsPerMinuteOnlyWhereItReadsBackExactly) {
    EXPECT_EQ(bpm_text(500000), "120");
    EXPECT_EQ(bpm_text(461538), "130");
    EXPECT_EQ(bpm_text(648649), "92.5");
    EXPECT_EQ(bpm_comment(461539), "129.9998");
    for (std::int64_t per_quarter = 1; per_quarter < 0xFFFFFF; per_quarter += 977) {
        const std::string text = bpm_text(per_quarter);
        if (text.empty()) continue;
        const std::size_t point = text.find('.');
        std::int64_t scaled = 0;
        std::int64_t scale = 1;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '.') continue;
            scaled = scaled * 10 + (text[i] - '0');
            if (point != std::string::npos && i > point) scale *= 10;
        }
        EXPECT_EQ(per_quarter_of_bpm(scaled, scale), per_quarter) << text;
    }
}

TEST(NoteEnds, EndsFirstAtTheirTickInTheHabitsOrderAndMarkedOnesInTheirPlace) {
    note_ends ends;
    const auto end = [](std::int64_t time, std::int64_t order, int key, std::int32_t position = INT32_MAX) {
        pending_end e;
        e.time = time;
        e.order = order;
        e.key = key;
        e.position = position;
        return e;
    };
    ends.add(end(10, 2, 62));
    ends.add(end(10, 1, 61));
    ends.add(end(10, 3, 63, 1));  // the second event of tick 10
    ends.add(end(5, 0, 60));
    std::vector<int> order;
    const auto take_before = [&](std::int64_t time) {
        while (const pending_end* e = ends.next_before(time)) {
            order.push_back(e->key);
            ends.written(e->time);
        }
    };
    take_before(10);  // an event of its own comes at tick 10
    EXPECT_EQ(order, (std::vector<int>{60, 61, 63, 62}));
    ends.written(10);
    ends.add(end(20, 0, 70, 1));
    ends.add(end(20, 1, 71));
    order.clear();
    take_before(30);
    EXPECT_EQ(order, (std::vector<int>{71, 70}));
    EXPECT_TRUE(ends.empty());
}

}  // namespace
}  // namespace smfasm::score

namespace smfasm::score {
namespace {

// A hand-edited listing may leave a mark that no longer fits (its tick has
// fewer events now): such ends still come, in the order of their marks,
// before anything later, and nothing is lost at the track's end.
TEST(NoteEnds, MarksThatNoLongerFitStillPlaceEveryEnd) {
    note_ends ends;
    ends.clear();
    const auto end = [](std::int64_t time, int key, std::int32_t position) {
        pending_end e;
        e.time = time;
        e.key = key;
        e.position = position;
        return e;
    };
    ends.add(end(10, 3, 7));
    ends.add(end(10, 1, 5));
    ends.add(end(40, 4, std::numeric_limits<std::int32_t>::max()));
    ends.add(end(10, 2, 6));
    std::vector<int> order;
    while (const pending_end* e = ends.next_before(20)) {
        order.push_back(e->key);
        ends.written(e->time);
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ends.next_before(39), nullptr);
    const pending_end* last = ends.next_any();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->key, 4);
    EXPECT_TRUE(ends.empty());
    EXPECT_EQ(ends.next_any(), nullptr);
}

}  // namespace
}  // namespace smfasm::score
