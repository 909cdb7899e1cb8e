// The song's arrays: notes measured as the score form pairs them, tempos of
// the right tracks, and bars numbered as the metre map numbers them.
#include "api/song_arrays.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/midi_bytes.h"

namespace smfasm {
namespace {

using namespace test;

bytes time_signature(std::uint32_t delta, int numerator, int exponent) {
    return meta(delta, 0x58, {static_cast<unsigned char>(numerator), static_cast<unsigned char>(exponent), 24, 8});
}

bytes tempo(std::uint32_t delta, std::uint32_t micros) {
    return meta(delta, 0x51,
                {static_cast<unsigned char>(micros >> 16), static_cast<unsigned char>(micros >> 8),
                 static_cast<unsigned char>(micros)});
}

song_arrays arrays_of(const bytes& file, std::size_t bar_limit = default_bar_limit) {
    song_arrays out;
    EXPECT_EQ(song_arrays_of(file.data(), file.size(), out, bar_limit), "");
    return out;
}

TEST(SongArrays, NotesStrayEndsProgramsAndTheConductorsTempos) {
    const bytes conductor = tempo(0, 500000) + end_of_track(10);
    const bytes notes =
        bytes{0x00, 0xC2, 0x05,                             // program 5 on channel 3
              0x00, 0x92, 60,   100,  0x00, 62,   90,       // two notes, the second under running status
              0x30, 62,   0,    0x10, 0x82, 60,   0,        // ends: note-on at 0 and note-off
              0x00, 0x81, 70,   0,    0x00, 0x93, 72, 1} +  // an end with nothing to end; a note never ended
        tempo(5, 600000) +
        end_of_track(100);
    const song_arrays a = arrays_of(header(1, 2, 96) + track(conductor) + track(notes));
    EXPECT_EQ(a.format, 1);
    EXPECT_EQ(a.division, 96);
    EXPECT_EQ(a.tracks, 2);
    EXPECT_EQ(a.end_tick, 64 + 5 + 100);
    EXPECT_EQ(a.note_key, (std::vector<std::uint8_t>{60, 62, 72}));
    EXPECT_EQ(a.note_channel, (std::vector<std::uint8_t>{2, 2, 3}));
    EXPECT_EQ(a.note_velocity, (std::vector<std::uint8_t>{100, 90, 1}));
    EXPECT_EQ(a.note_track, (std::vector<std::uint16_t>{1, 1, 1}));
    EXPECT_EQ(a.note_start, (std::vector<double>{0, 0, 64}));
    EXPECT_EQ(a.note_length, (std::vector<double>{64, 48, -1}));
    EXPECT_EQ(a.off_key, (std::vector<std::uint8_t>{70}));
    EXPECT_EQ(a.off_channel, (std::vector<std::uint8_t>{1}));
    EXPECT_EQ(a.off_tick, (std::vector<double>{64}));
    EXPECT_EQ(a.program, (std::vector<std::uint8_t>{5}));
    EXPECT_EQ(a.program_channel, (std::vector<std::uint8_t>{2}));
    // Only the conductor's tempo in format 1; every track's in format 2.
    EXPECT_EQ(a.tempo_micros, (std::vector<std::uint32_t>{500000}));
    const song_arrays two = arrays_of(header(2, 2, 96) + track(conductor) + track(notes));
    EXPECT_EQ(two.tempo_micros, (std::vector<std::uint32_t>{500000, 600000}));
    EXPECT_EQ(two.tempo_tick, (std::vector<double>{0, 69}));
}

TEST(SongArrays, BarsFollowTheMetreMapUpToTheEnd) {
    // 4/4 to start, 3/4 from the middle of bar 2 (which it cuts short), a
    // later 6/8 replaced at its own tick by 2/2; ends on a bar line.
    const bytes conductor = time_signature(4 * 96 + 2 * 96, 3, 2) + time_signature(3 * 96, 6, 3) +
                            time_signature(0, 2, 1) + end_of_track(2 * 2 * 96 * 2);
    const song_arrays a = arrays_of(header(1, 1, 96) + track(conductor));
    EXPECT_EQ(a.bar_number, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(a.bar_tick, (std::vector<double>{0, 384, 576, 864, 1248, 1632}));
    EXPECT_EQ(a.bar_numerator, (std::vector<std::uint8_t>{4, 4, 3, 2, 2, 2}));
    EXPECT_EQ(a.bar_denominator, (std::vector<std::uint16_t>{4, 4, 4, 2, 2, 2}));
    EXPECT_EQ(a.bar_ticks_per_beat, (std::vector<std::uint32_t>{96, 96, 96, 192, 192, 192}));
    EXPECT_EQ(a.end_tick, 1632);

    // Format 2: each track its own bars; SMPTE time: none at all.
    const song_arrays two =
        arrays_of(header(2, 2, 96) + track(time_signature(0, 3, 2) + end_of_track(300)) + track(end_of_track(400)));
    EXPECT_EQ(two.bar_track, (std::vector<std::uint16_t>{0, 0, 1, 1}));
    EXPECT_EQ(two.bar_tick, (std::vector<double>{0, 288, 0, 384}));
    const bytes smpte_track = track(bytes{0x00, 0x90, 60, 1, 0x60, 60, 0} + end_of_track());
    EXPECT_TRUE(arrays_of(header(0, 1, 0xE728) + smpte_track).bar_number.empty());
    EXPECT_EQ(arrays_of(header(0, 1, 0xE728) + smpte_track).division, 0);
}

TEST(SongArrays, AMetreFinerThanATickHoldsOneBarAndSeveralOfThemEndOnTheirLimit) {
    // At division 1 a beat of a 64th is no tick: bar 2 lasts to the next
    // signature, as the listing writes ticks there.
    const bytes fine = time_signature(4, 4, 6) + time_signature(10, 4, 2) + end_of_track(8);
    const song_arrays a = arrays_of(header(0, 1, 1) + track(fine));
    EXPECT_EQ(a.bar_number, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(a.bar_tick, (std::vector<double>{0, 4, 14, 18, 22}));
    EXPECT_EQ(a.bar_ticks_per_beat[1], 0u);

    // One long delta makes millions of bars of a few bytes: they stop at the
    // limit, and say so.
    const bytes file = header(0, 1, 1) + track(end_of_track(0x0FFFFFFF));
    song_arrays cut;
    EXPECT_EQ(song_arrays_of(file.data(), file.size(), cut, 1000), "");
    EXPECT_EQ(cut.bar_number.size(), 1000u);
    EXPECT_EQ(cut.warning, "only the first 1000 bars are given");
}

TEST(SongArrays, BarNumbersAreTheMetreMapsOwn) {
    // Signatures at random ticks: every bar start reads back as beat 1 of
    // its own bar, and the bar before ends where it starts.
    std::uint32_t seed = 5;
    const auto below = [&seed](unsigned n) { return ((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    for (int round = 0; round < 50; ++round) {
        bytes events;
        for (int i = 0; i < 8; ++i) events += time_signature(below(3) == 0 ? 0 : below(700), 1 + below(7), below(5));
        const bytes file = header(0, 1, 24 + below(200)) + track(events + end_of_track(below(900)));
        score::song song;
        ASSERT_FALSE(score::decode_song(file.data(), file.size(), song));
        song_arrays a;
        ASSERT_EQ(arrays_from_song(song, a), "");
        ASSERT_FALSE(a.bar_number.empty());
        for (std::size_t i = 0; i < a.bar_number.size(); ++i) {
            score::bar_time at;
            ASSERT_TRUE(song.metre.to_bars(static_cast<std::int64_t>(a.bar_tick[i]), at)) << round;
            EXPECT_EQ(at.bar, a.bar_number[i]) << round << " bar " << i;
            EXPECT_EQ(at.beat, 1);
            EXPECT_EQ(at.tick, 0);
            if (i > 0) {
                EXPECT_EQ(a.bar_number[i], a.bar_number[i - 1] + 1);
            }
        }
        EXPECT_LE(a.bar_tick.back(), a.end_tick);
    }
}

TEST(SongArrays, AFileThatDoesNotDecodeGivesNothingAndSaysWhere) {
    const bytes file = header(1, 1, 96) + track(bytes{0x00, 0x90, 60, 1} + end_of_track());
    song_arrays a;
    EXPECT_EQ(song_arrays_of(file.data(), file.size() - 2, a), "the file ends inside an event (at byte 28)");
    EXPECT_TRUE(a.note_key.empty());
    EXPECT_EQ(a.division, 96);
}

}  // namespace
}  // namespace smfasm
