// The lossless event table from C++: decoded from a file's bytes, written
// back from its columns, for files that keep their byte habits only mostly;
// what it cannot give back exactly is refused, never altered.
#include "api/event_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "score/song.h"
#include "tests/support/midi_bytes.h"

namespace smfasm {
namespace {

using namespace test;

struct lcg {
    std::uint32_t s;
    unsigned below(unsigned n) { return ((s = s * 1664525u + 1013904223u) >> 8) % n; }
};

// A track's bytes: notes and controllers under running status now and
// then (across meta events too), SysEx, texts, ends by either message.
bytes random_track_bytes(lcg& rng, bool conductor, int events = 200) {
    bytes t;
    int status = 0;
    const unsigned run_percent = 100 * rng.below(3) / 2;
    for (int n = 0; n < events; ++n) {
        t += vlq(rng.below(3) == 0 ? 0 : rng.below(300));
        const unsigned kind = rng.below(20);
        if (kind < 14) {
            const int s = (kind < 6    ? 0x90
                           : kind < 10 ? 0x80
                           : kind < 12 ? 0xB0
                                       : 0xE0) |
                          static_cast<int>(rng.below(2));
            if (s != status || rng.below(100) >= run_percent) t.push_back(static_cast<unsigned char>(s));
            status = s;
            t.push_back(static_cast<unsigned char>(60 + rng.below(6)));
            t.push_back(static_cast<unsigned char>(kind < 3 ? 0 : rng.below(128)));
        } else if (kind < 16) {
            t += bytes{0xFF, 0x05, 0x02, 'l', 'a'};
        } else if (kind < 17) {
            t += bytes{0xF0, 0x03, 0x43, 0x10, 0xF7};
        } else if (kind < 18 && conductor) {
            t += bytes{0xFF, 0x58, 0x04, static_cast<unsigned char>(2 + rng.below(5)), 2, 24, 8};
        } else {
            t += bytes{0xFF, 0x51, 0x03, 0x07, static_cast<unsigned char>(rng.below(256)), 0x20};
        }
    }
    return track(t + end_of_track());
}

std::string decoded_and_written(const bytes& file, bytes& out) {
    score::song song;
    const score::song_error error = score::decode_song(file.data(), file.size(), song);
    if (!error.text.empty()) return error.text;
    event_table table;
    table_from_song(song, table);
    out.clear();
    return write_table(columns_of(table), out);
}

TEST(EventTable, EveryFileComesBackFromItsColumns) {
    lcg rng{11};
    for (int round = 0; round < 60; ++round) {
        const int tracks = 1 + static_cast<int>(rng.below(3));
        bytes file = header(tracks == 1 ? 0 : 1, tracks, 96 + static_cast<int>(rng.below(400)));
        for (int i = 0; i < tracks; ++i) file += random_track_bytes(rng, i == 0);
        bytes back;
        ASSERT_EQ(decoded_and_written(file, back), "") << "round " << round;
        ASSERT_EQ(back, file) << "round " << round;
    }
}

TEST(EventTable, WhatItCannotGiveBackExactlyIsRefusedNeverAltered) {
    const bytes song = header(0, 1, 96) + track(bytes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00} + end_of_track());
    // Every cut of a file: refused, or (the header alone) given back.
    for (std::size_t size = 0; size < song.size(); ++size) {
        const bytes cut(song.begin(), song.begin() + static_cast<std::ptrdiff_t>(size));
        bytes back;
        const std::string said = decoded_and_written(cut, back);
        EXPECT_TRUE(!said.empty() || back == cut) << size;
    }
    // A delta time in two bytes where one does; bytes after the last chunk.
    bytes padded = header(0, 1, 96) + track(bytes{0x80, 0x00, 0x90, 0x3C, 0x40} + end_of_track());
    bytes back;
    EXPECT_NE(decoded_and_written(padded, back), "");
    EXPECT_NE(decoded_and_written(song + text_bytes("junk"), back), "");
}

// The decoder writes and counts a long track's channel events a stretch at
// a time through locals; the analysis must be the one its events get when
// counted afterwards, one by one.
TEST(EventTable, LongTracksAnalyseAsTheirEventsCountedAfterwards) {
    lcg rng{5};
    for (int round = 0; round < 4; ++round) {
        const bytes file = header(0, 1, 96) + random_track_bytes(rng, true, 4000);
        bytes back;
        ASSERT_EQ(decoded_and_written(file, back), "") << "round " << round;
        ASSERT_EQ(back, file) << "round " << round;
        score::song song;
        ASSERT_FALSE(score::decode_song(file.data(), file.size(), song));
        const score::track_record& decoded = song.tracks[0].record;
        score::track_record counted;
        for (const score::track_event& e : decoded.events) {
            score::track_event& c = counted.events.emplace_back();
            c.time = e.time;
            c.type = e.type;
            c.status = e.status;
            c.first = e.first;
            c.second = e.second;
            c.running = e.running;
        }
        const score::track_habits want = score::analyse_track(counted);
        const score::track_habits& got = song.tracks[0].habits;
        ASSERT_EQ((std::array{want.end_velocity, static_cast<int>(want.running), int{want.carry}, int{want.reverse}}),
                  (std::array{got.end_velocity, static_cast<int>(got.running), int{got.carry}, int{got.reverse}}));
        for (std::size_t i = 0; i < decoded.events.size(); ++i) {
            const score::track_event& a = counted.events[i];
            const score::track_event& b = decoded.events[i];
            ASSERT_EQ(int{a.status_case}, int{b.status_case}) << "round " << round << " event " << i;
            if (a.is_start() || a.is_end()) {
                ASSERT_EQ(a.partner, b.partner) << "round " << round << " event " << i;
            }
            if (a.is_start()) {
                ASSERT_EQ(a.end_position, b.end_position) << "round " << round << " event " << i;
            }
        }
    }
}

}  // namespace
}  // namespace smfasm
