// The score form's analysis against the assembler's rule, without any
// text between them: a track's notes are paired, its habits chosen and its
// marks set; the placement rule and the running-status rule, given only
// what a listing would say, must give back the track's own order of events
// and its own status bytes, for tracks that keep their habits only mostly.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "score/habits.h"
#include "score/note_ends.h"
#include "score/track.h"

namespace smfasm::score {
namespace {

// A small deterministic generator, so that a failure repeats.
struct lcg {
    std::uint32_t s;
    unsigned below(unsigned n) { return ((s = s * 1664525u + 1013904223u) >> 8) % n; }
};

// A track as the reader would hold it: notes struck again before their
// end, ends in any order and by either message, many events at one tick,
// meta events between, and status bytes left out where the file may.
track_record random_track(std::uint32_t seed) {
    lcg rng{seed};
    track_record track;
    const unsigned run_percent = 100 * rng.below(5) / 4;
    std::vector<std::pair<int, int>> sounding;  // channel, key
    std::int64_t time = 0;
    int last_status = 0;
    const auto channel = [&](int status, int first, int second) {
        track_event& e = track.events.emplace_back();
        e.time = time;
        e.status = static_cast<std::uint8_t>(status);
        e.first = static_cast<std::uint8_t>(first);
        e.second = static_cast<std::uint8_t>(second);
        e.running = status == last_status && rng.below(100) < run_percent;
        last_status = status;
    };
    for (int n = 0; n < 400; ++n) {
        if (rng.below(100) >= 40) time += rng.below(50);
        const unsigned kind = rng.below(100);
        if (kind < 45) {
            const int ch = static_cast<int>(rng.below(2));
            const int key = 60 + static_cast<int>(rng.below(4));
            channel(0x90 | ch, key, 1 + static_cast<int>(rng.below(127)));
            sounding.emplace_back(ch, key);
        } else if (kind < 85 && !sounding.empty()) {
            const std::size_t i = rng.below(static_cast<unsigned>(sounding.size()));
            const auto [ch, key] = sounding[i];
            sounding.erase(sounding.begin() + static_cast<std::ptrdiff_t>(i));
            if (rng.below(2) == 0) {
                channel(0x90 | ch, key, 0);
            } else {
                channel(0x80 | ch, key, rng.below(4) == 0 ? static_cast<int>(rng.below(128)) : 64);
            }
        } else if (kind < 92) {
            channel(0xB0 | static_cast<int>(rng.below(2)), 7, static_cast<int>(rng.below(128)));
        } else if (kind < 96) {
            channel(0x81, 40, 64);  // an end with nothing sounding, now and then
        } else {
            track_event& e = track.events.emplace_back();
            e.time = time;
            e.type = event_type::meta;
            e.status = 0x01;
        }
    }
    return track;
}

// The events in the order the assembler writes them from the listing: each
// line's event in turn, the ends of the notes before it by the rule.
std::vector<std::size_t> placed(const track_record& track, const track_habits& habits) {
    const event_list& events = track.events;
    note_ends ends;
    ends.clear();
    std::vector<std::size_t> order;
    const auto put = [&](std::int64_t time, std::size_t index) {
        ends.written(time);
        order.push_back(index);
    };
    const auto put_end = [&](const pending_end* end) { put(end->time, static_cast<std::size_t>(end->key)); };
    for (std::size_t i = 0; i < events.size(); ++i) {
        const track_event& e = events[i];
        if (e.is_end()) continue;  // no line of its own
        while (const pending_end* end = ends.next_before(e.time)) put_end(end);
        put(e.time, i);
        if (!e.is_start()) continue;
        pending_end end;
        end.time = events[static_cast<std::size_t>(e.partner)].time;
        if (e.end_position >= 0) end.position = e.end_position;
        const auto began = static_cast<std::int64_t>(i);
        end.order = habits.reverse ? -began : began;
        end.key = e.partner;  // which event it stands for
        ends.add(end);
    }
    while (const pending_end* end = ends.next_any()) put_end(end);
    return order;
}

TEST(TrackAnalysis, TheRuleAndTheMarksGiveEveryTrackBackInItsOwnOrderAndBytes) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        track_record track = random_track(seed);
        const track_habits habits = analyse_track(track);
        const event_list& events = track.events;

        std::vector<std::size_t> expected(events.size());
        for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i;
        ASSERT_EQ(placed(track, habits), expected) << "seed " << seed;

        running_rule rule;
        for (const track_event& e : events) {
            if (e.type != event_type::channel) {
                rule.other(habits);
                continue;
            }
            const status_mark mark = mark_of(e, habits);
            const bool left_out = mark == status_as_rule    ? rule.omits(habits, e.status, e.first)
                                  : mark == status_left_out ? true
                                                            : false;
            ASSERT_EQ(left_out, e.running) << "seed " << seed;
            rule.channel(e.status);
        }
        // An end alone at its tick is always where the rule puts it: a mark
        // there would be noise on a line a musician reads.
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (!events[i].is_end()) continue;
            const bool alone = (i == 0 || events[i - 1].time != events[i].time) &&
                               (i + 1 == events.size() || events[i + 1].time != events[i].time);
            if (alone) {
                EXPECT_LT(events[static_cast<std::size_t>(events[i].partner)].end_position, 0) << seed;
            }
        }
    }
}

// The reader and the song decoder add each event through the record, which
// tallies it as it comes; a record reused after clear(), or after a track
// given up half read, analyses as one whose events are counted afterwards.
TEST(TrackAnalysis, EventsTalliedAsTheyComeAnalyseAsEventsCountedAfterwards) {
    track_record tallied;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        track_record counted = random_track(seed);
        tallied.clear();
        if (seed % 3 == 0) {
            // A track given up half read leaves starts waiting behind.
            for (const track_event& e : random_track(seed + 1000).events) {
                if (e.type == event_type::channel) tallied.add_channel(e.status, e.first, e.second, e.running);
            }
            tallied.clear();
        }
        for (const track_event& e : counted.events) {
            tallied.clock = e.time;
            if (e.type == event_type::channel) {
                tallied.add_channel(e.status, e.first, e.second, e.running);
            } else {
                tallied.add_other(e.type, e.status);
            }
        }
        const track_habits want = analyse_track(counted);
        const track_habits got = analyse_track(tallied);
        ASSERT_EQ((std::array{want.end_velocity, static_cast<int>(want.running), int{want.carry}, int{want.reverse}}),
                  (std::array{got.end_velocity, static_cast<int>(got.running), int{got.carry}, int{got.reverse}}))
            << "seed " << seed;
        for (std::size_t i = 0; i < counted.events.size(); ++i) {
            const track_event& a = counted.events[i];
            const track_event& b = tallied.events[i];
            ASSERT_EQ((std::array{a.partner, a.end_position, int{a.status_case}}),
                      (std::array{b.partner, b.end_position, int{b.status_case}}))
                << "seed " << seed << " event " << i;
        }
    }
}

TEST(TrackAnalysis, PairsFirstInFirstOutAndLeavesWhatCannotPair) {
    track_record track;
    const auto add = [&track](std::int64_t time, int status, int first, int second) {
        track_event& e = track.events.emplace_back();
        e.time = time;
        e.status = static_cast<std::uint8_t>(status);
        e.first = static_cast<std::uint8_t>(first);
        e.second = static_cast<std::uint8_t>(second);
    };
    add(0, 0x80, 60, 0);    // 0: an end with nothing sounding
    add(0, 0x90, 60, 90);   // 1: struck
    add(10, 0x90, 60, 80);  // 2: struck again before its end
    add(20, 0x90, 60, 0);   // 3: ends the first (1)
    add(30, 0x80, 60, 7);   // 4: ends the second (2)
    add(40, 0x91, 60, 70);  // 5: another channel, never ends
    const track_habits habits = analyse_track(track);
    const event_list& e = track.events;
    EXPECT_EQ(e[0].partner, no_event);
    EXPECT_EQ(e[1].partner, 3);
    EXPECT_EQ(e[2].partner, 4);
    EXPECT_EQ(e[5].partner, no_event);
    EXPECT_TRUE(e[1].is_start() && e[3].is_end() && !e[5].is_start());
    // One end by note-on, one by note-off at 7: in a tie the note-on wins
    // over a velocity (the default, 64, would win over both).
    EXPECT_EQ(habits.end_velocity, end_by_note_on);
}

TEST(TrackAnalysis, HabitsAreTheTracksOwnMajority) {
    // Note-ons run, controllers repeat their status, and running status
    // carries across a meta event.
    track_record track;
    std::int64_t time = 0;
    const auto add = [&](event_type type, int status, int first, int second, bool running) {
        track_event& e = track.events.emplace_back();
        e.time = time++;
        e.type = type;
        e.status = static_cast<std::uint8_t>(status);
        e.first = static_cast<std::uint8_t>(first);
        e.second = static_cast<std::uint8_t>(second);
        e.running = running;
    };
    for (int i = 0; i < 6; ++i) {
        add(event_type::channel, 0x90, 60 + i, 64, i > 0);
        add(event_type::meta, 0x01, 0, 0, false);
        add(event_type::channel, 0x90, 60 + i, 0, true);
    }
    for (int i = 0; i < 4; ++i) add(event_type::channel, 0xB0, 7, i, false);
    const track_habits habits = analyse_track(track);
    EXPECT_TRUE(habits.carry);
    EXPECT_EQ(habits.end_velocity, end_by_note_on);
    EXPECT_NE(habits.running & (1u << slot_note_on), 0u);
    EXPECT_EQ(habits.running & (1u << slot_controller), 0u);
    for (const track_event& e : track.events) EXPECT_EQ(mark_of(e, habits), status_as_rule);
}

}  // namespace
}  // namespace smfasm::score
