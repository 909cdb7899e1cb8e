#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "score/metre_map.h"
#include "state/state.h"
#include "tests/support/in_process.h"
#include "writer/writer.h"

namespace smfasm {
namespace {

using test::capture;

std::string written(const std::function<void()>& body) { return capture(body).listing; }

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::int32_t len(const std::string& s) { return static_cast<std::int32_t>(s.size()); }

// Header, then `body` at `time`.
std::string after_header(int division, std::int32_t time, const std::function<void()>& body, int measure_mode = 1) {
    return written([&] {
        state.measure_mode = measure_mode;
        on_header(0, 1, division);
        state.current_time = time;
        body();
    });
}

TEST(TimeColumn, TicksAndMeasures) {
    struct row {
        int measure_mode;
        int division;
        std::int32_t time;
        const char* column;
    };
    const std::vector<row> rows = {
        {0, 96, 500, "500 "},
        {0, 96, -7, "-7 "},
        {0, 96, INT32_MIN, "-2147483648 "},
        {1, 96, 0, "0:0:0 "},
        {1, 96, 500, "1:1:20 "},
        {2, 96, 500, "1:1:20 "},  // every B adds one; any nonzero shows measures
        {1, 96, -100, "0:-1:-4 "},
        // Division 0 has no beats: the column falls back to ticks.
        {1, 0, 500, "500 "},
    };
    for (const row& r : rows) {
        const std::string line = after_header(
            r.division, r.time, [] { write_time(); }, r.measure_mode);
        EXPECT_EQ(line, std::string("MFile 0 1 ") + std::to_string(r.division) + "\n" + r.column) << "time " << r.time;
    }
}

TEST(Header, MetricalAndSmpte) {
    EXPECT_EQ(written([] { on_header(1, 2, 480); }), "MFile 1 2 480\n");
    EXPECT_EQ(written([] { on_header(0, 0, 0xFFFF); }), "MFile 0 0 -1 255\n");
    const auto smpte = capture([] {
        state.measure_mode = 1;
        on_header(1, 3, 0xE728);
        EXPECT_EQ(state.measure_mode, 0);
        state.current_time = 5;
        write_time();
    });
    EXPECT_EQ(smpte.listing, "MFile 1 3 -25 40\n5 ");
}

TEST(Header, SetsMeasureFieldsAndCounters) {
    capture([] {
        state.measure_offset = 9;
        on_header(1, 7, 240);
        EXPECT_EQ(state.tracks_remaining, 7);
        EXPECT_EQ(state.tracks_started, 0);
        EXPECT_EQ(state.division, 240);
        EXPECT_EQ(state.ticks_per_beat, 240);
        EXPECT_EQ(state.beats_per_measure, 4);
        EXPECT_EQ(state.measure_offset, 0);
        on_track_start();
        on_track_end();
        EXPECT_EQ(state.tracks_started, 1);
        EXPECT_EQ(state.tracks_remaining, 6);
    });
}

TEST(Header, FormatAboveTwoStopsAfterItsLine) {
    const auto result = capture([] { on_header(3, 1, 96); });
    EXPECT_EQ(result.listing, "MFile 3 1 96\n");
    EXPECT_EQ(result.messages, "Can't deal with format 3 files\n");
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.status, 1);
}

TEST(NoteText, NumbersAndNames) {
    capture([] {
        EXPECT_STREQ(note_text(60), "60");
        state.note_names = 1;
        for (const auto& [note, text] : std::vector<std::pair<int, const char*>>{
                 {60, "c5"}, {61, "c#5"}, {0, "c0"}, {127, "g10"}, {144, "c12"}, {255, "d#21"}}) {
            EXPECT_STREQ(note_text(note), text) << note;
        }
    });
}

TEST(ChannelLines, BothFormatSets) {
    const auto all_messages = [] {
        on_note_on(0, 60, 64);
        on_note_off(15, 61, 0);
        on_poly_pressure(2, 62, 100);
        on_controller(3, 7, 127);
        on_pitch_bend(0, 0, 64);
        on_program(4, 5);
        on_channel_pressure(5, 33);
    };
    EXPECT_EQ(written(all_messages),
              "0 On ch=1 n=60 v=64\n"
              "0 Off ch=16 n=61 v=0\n"
              "0 PoPr ch=3 n=62 v=100\n"
              "0 Par ch=4 c=7 v=127\n"
              "0 Pb ch=1 v=8192\n"
              "0 PrCh ch=5 p=5\n"
              "0 ChPr ch=6 v=33\n");
    EXPECT_EQ(written([&] {
                  state.channel_formats = &long_channel_formats;
                  state.note_names = 1;
                  all_messages();
              }),
              "0 On ch=1 note=c5 vol=64\n"
              "0 Off ch=16 note=c#5 vol=0\n"
              "0 PolyPr ch=3 note=d5 val=100\n"
              "0 Param ch=4 con=7 val=127\n"
              "0 Pb ch=1 val=8192\n"
              "0 ProgCh ch=5 prog=5\n"
              "0 ChanPr ch=6 val=33\n");
}

TEST(ChannelLines, DataBytesAsRead) {
    EXPECT_EQ(written([] {
                  on_pitch_bend(0, 0x7F, 0x7F);
                  on_pitch_bend(0, 0xFF, 0xFF);
                  on_note_on(0, 144, 200);
              }),
              "0 Pb ch=1 v=16383\n0 Pb ch=1 v=32895\n0 On ch=1 n=144 v=200\n");
}

TEST(QuotedText, EveryByteClass) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    std::string expected = "\"\\0";
    for (int b = 1; b < 256; ++b) {
        char buf[8];
        if (b == '\n') {
            expected += "\\n";
        } else if (b == '\r') {
            expected += "\\r";
        } else if (b == '"' || b == '\\') {
            expected += '\\';
            expected += static_cast<char>(b);
        } else if (b >= 0x20 && b <= 0x7E) {
            expected += static_cast<char>(b);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02x", b);
            expected += buf;
        }
    }
    expected += "\"\n";
    EXPECT_EQ(written([&] { write_quoted(u(all), len(all)); }), expected);
}

TEST(QuotedText, Folding) {
    struct row {
        int width;
        std::string text;
        const char* expected;
    };
    const std::string thirty = "abcdefghijklmno pqrstuvwxyz0123";
    const std::vector<row> rows = {
        {0, thirty, "\"abcdefghijklmno pqrstuvwxyz0123\"\n"},
        // 15 bytes fill columns 25 to 39; the blank then opens line two.
        {40, thirty, "\"abcdefghijklmno\\\n\t\\ pqrstuvwxyz0123\"\n"},
        // Width 25 folds before the first byte; after a fold the column is 13.
        {25, "ab", "\"\\\n\tab\"\n"},
        {13, "ab", "\"\\\n\ta\\\n\tb\"\n"},
        {14, "abc", "\"\\\n\ta\\\n\tb\\\n\tc\"\n"},
        {14, " b", "\"\\\n\t\\ \\\n\tb\"\n"},
        {-3, "ab", "\"\\\n\ta\\\n\tb\"\n"},
        {16, "abcd", "\"\\\n\tabc\\\n\td\"\n"},
        // Escapes count their width: \xe9 moves the column by 4.
        {30,
         "ab\xe9"
         "cd",
         "\"ab\\xe9\\\n\tcd\"\n"},
        // A tab first on a continuation line is its plain escape.
        {26, "a\tb", "\"a\\\n\t\\x09b\"\n"},
        {40, "", "\"\"\n"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(written([&] {
                      state.fold_width = r.width;
                      write_quoted(u(r.text), len(r.text));
                  }),
                  r.expected)
            << "width " << r.width << " text " << r.text;
    }
}

TEST(HexDump, Folding) {
    const std::string sysex = "\xf0\x7e\x7f\x09\x01\xf7";
    struct row {
        int width;
        const char* expected;
    };
    const std::vector<row> rows = {
        {0, " f0 7e 7f 09 01 f7\n"},
        {20, "\\\n\tf0 7e 7f\\\n\t09 01 f7\n"},
        {25, "\\\n\tf0 7e 7f 09 01\\\n\tf7\n"},
        {26, " f0\\\n\t7e 7f 09 01 f7\n"},
        {40, " f0 7e 7f 09 01\\\n\tf7\n"},
        {13, "\\\n\tf0\\\n\t7e\\\n\t7f\\\n\t09\\\n\t01\\\n\tf7\n"},
        {14, "\\\n\tf0\\\n\t7e\\\n\t7f\\\n\t09\\\n\t01\\\n\tf7\n"},
        {15, "\\\n\tf0 7e\\\n\t7f 09\\\n\t01 f7\n"},
        {17, "\\\n\tf0 7e\\\n\t7f 09\\\n\t01 f7\n"},
        {-1, "\\\n\tf0\\\n\t7e\\\n\t7f\\\n\t09\\\n\t01\\\n\tf7\n"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(written([&] {
                      state.fold_width = r.width;
                      write_hex(u(sysex), len(sysex));
                  }),
                  r.expected)
            << "width " << r.width;
    }
}

TEST(DataLines, LabelsAndPayloads) {
    const std::string sysex = "\xf0\x7e\x7f\x09\x01\xf7";
    const std::string text = "A\"b\n\xe9";
    EXPECT_EQ(written([&] {
                  on_sysex(len(sysex), u(sysex));
                  on_arbitrary(0, nullptr);
                  on_sequencer_specific(2, u("\x00\x41"));
                  on_meta_other(0x20, 1, u("\x01"));
                  on_meta_text(1, len(text), u(text));
                  on_meta_text(9, 0, nullptr);
                  on_meta_text(0, 1, u("x"));
              }),
              "0 SysEx f0 7e 7f 09 01 f7\n"
              "0 Arb\n"
              "0 SeqSpec 00 41\n"
              "0 Meta 0x20 01\n"
              "0 Meta Text \"A\\\"b\\n\\xe9\"\n"
              "0 Meta 0x09 \"\"\n"
              "0 Meta 0x00 \"x\"\n");
}

TEST(DataLines, SequenceNameOnlyInFirstTrack) {
    const std::vector<std::pair<int, const char*>> names = {{1, "Text"},      {2, "Copyright"}, {3, "TrkName"},
                                                            {4, "InstrName"}, {5, "Lyric"},     {6, "Marker"},
                                                            {7, "Cue"},       {8, "Unrec"}};
    EXPECT_EQ(written([] {
                  on_header(1, 2, 96);
                  on_meta_text(3, 1, u("a"));  // before any track: a track name
                  on_track_start();
                  on_meta_text(3, 1, u("a"));
                  on_track_start();
                  on_meta_text(3, 1, u("b"));
              }),
              "MFile 1 2 96\n0 Meta TrkName \"a\"\nMTrk\n0 Meta SeqName \"a\"\nMTrk\n0 Meta TrkName \"b\"\n");
    for (const auto& [type, name] : names) {
        EXPECT_EQ(written([type = type] { on_meta_text(type, 0, nullptr); }),
                  std::string("0 Meta ") + name + " \"\"\n");
    }
}

TEST(MetaLines, Values) {
    EXPECT_EQ(written([] {
                  on_sequence_number(5);
                  on_end_of_track();
                  on_tempo(500000);
                  on_smpte(0x61, 2, 3, 4, 255);
                  on_key_signature(0xFD, 1);
                  on_key_signature(2, 0);
                  on_key_signature(0x80, 7);
                  on_time_signature(6, 3, 144, 8);
              }),
              "0 SeqNr 5\n0 Meta TrkEnd\n0 Tempo 500000\n0 SMPTE 97 2 3 4 255\n"
              "0 KeySig -3 minor\n0 KeySig 2 major\n0 KeySig -128 minor\n0 TimeSig 6/8 144 8\n");
}

TEST(TimeSignature, Denominators) {
    struct row {
        int exponent;
        const char* text;
        std::int32_t ticks_per_beat;
    };
    const std::vector<row> rows = {
        {0, "TimeSig 4/1 24 8\n", 1920},        {2, "TimeSig 4/4 24 8\n", 480},
        {3, "TimeSig 4/8 24 8\n", 240},         {11, "TimeSig 4/2048 24 8\n", 0},
        {30, "TimeSig 4/1073741824 24 8\n", 0}, {31, "TimeSig 4/-2147483648 24 8\n", 0},
        {32, "TimeSig 4/0 24 8\n", 0},          {255, "TimeSig 4/0 24 8\n", 0},
    };
    for (const row& r : rows) {
        const auto result = capture([&] {
            on_header(0, 1, 480);
            on_time_signature(4, r.exponent, 24, 8);
            EXPECT_EQ(state.ticks_per_beat, r.ticks_per_beat) << r.exponent;
            EXPECT_EQ(state.beats_per_measure, 4);
        });
        EXPECT_EQ(result.listing, std::string("MFile 0 1 480\n0 ") + r.text);
    }
}

// A step of a measure-display run: a time signature, an event line, or the
// start of the next track.
struct measure_step {
    enum { signature, event, next_track } kind;
    std::int32_t time = 0;
    int numerator = 4;
    int exponent = 2;
};

std::string measure_columns(int division, const std::vector<measure_step>& steps) {
    return written([&] {
        state.measure_mode = 1;
        on_header(1, 2, division);
        for (const measure_step& s : steps) {
            state.current_time = s.time;
            if (s.kind == measure_step::next_track)
                on_track_start();
            else if (s.kind == measure_step::event)
                on_end_of_track();
            else
                on_time_signature(s.numerator, s.exponent, 24, 8);
        }
    });
}

TEST(TimeSignature, MovesTheMeasureColumn) {
    using m = measure_step;
    // 3/4 at 0 with division 480: tick 1440 starts measure 1.
    EXPECT_EQ(measure_columns(480, {{m::signature, 0, 3, 2}, {m::event, 1440}, {m::event, 1439}}),
              "MFile 1 2 480\n0:0:0 TimeSig 3/4 24 8\n1:0:0 Meta TrkEnd\n0:2:479 Meta TrkEnd\n");
    // A new 4/4 in mid-measure drops the partial measure: counting restarts.
    EXPECT_EQ(measure_columns(96, {{m::signature, 200}, {m::event, 200}, {m::event, 584}}),
              "MFile 1 2 96\n0:2:8 TimeSig 4/4 24 8\n0:0:0 Meta TrkEnd\n1:0:0 Meta TrkEnd\n");
    // 6/8 at measure 2 of 4/4; the signature line shows the old metre.
    EXPECT_EQ(measure_columns(480, {{m::signature, 3840, 6, 3}, {m::event, 3840 + 240 * 7}}),
              "MFile 1 2 480\n2:0:0 TimeSig 6/8 24 8\n3:1:0 Meta TrkEnd\n");
    // The measure fields carry over into the next track, whose time restarts.
    EXPECT_EQ(measure_columns(96, {{m::signature, 1920}, {m::next_track}, {m::event, 100}}),
              "MFile 1 2 96\n5:0:0 TimeSig 4/4 24 8\nMTrk\n1:-2:-92 Meta TrkEnd\n");
    // A zero numerator: columns fall back to ticks and the next signature
    // leaves the offset alone; a good signature recovers.
    EXPECT_EQ(
        measure_columns(96, {{m::signature, 384, 0, 2}, {m::event, 500}, {m::signature, 800}, {m::event, 800 + 384}}),
        "MFile 1 2 96\n1:0:0 TimeSig 0/4 24 8\n500 Meta TrkEnd\n800 TimeSig 4/4 24 8\n"
        "2:0:0 Meta TrkEnd\n");
    // A denominator above four times the division gives 0 ticks per beat.
    EXPECT_EQ(measure_columns(1, {{m::signature, 0, 4, 3}, {m::event, 5}}),
              "MFile 1 2 1\n0:0:0 TimeSig 4/8 24 8\n5 Meta TrkEnd\n");
}

TEST(TimeSignature, ArithmeticRunsWithoutMeasureDisplay) {
    capture([] {
        on_header(0, 1, 96);
        state.current_time = 1920;
        on_time_signature(3, 2, 24, 8);
        EXPECT_EQ(state.measure_offset, 5);
        EXPECT_EQ(state.last_time_sig_time, 1920);
        EXPECT_EQ(state.beats_per_measure, 3);
        EXPECT_EQ(state.ticks_per_beat, 96);
        // Extreme times wrap instead of overflowing.
        state.last_time_sig_time = INT32_MIN;
        state.current_time = INT32_MAX;
        on_time_signature(4, 2, 24, 8);
        EXPECT_EQ(state.measure_offset, 5 + static_cast<std::int32_t>(-1 / 288));
    });
}

}  // namespace
}  // namespace smfasm

namespace smfasm {
namespace {

// The time column keeps text between events; whatever the order of times,
// each column must read as if formatted from scratch.
TEST(TimeColumn, SuccessiveTimesReadAsFreshlyFormatted) {
    std::vector<std::int32_t> times = {
        0, 5,   98,  99,    100,   101,   199,    200, 999,  1000,          1099,      1100,      9999,
        5, 150, 149, 10099, 10100, 99999, 100000, -5,  -150, INT32_MAX - 1, INT32_MAX, INT32_MIN, INT32_MIN + 99};
    std::uint32_t seed = 12345;
    std::int32_t t = 0;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto r = static_cast<std::int32_t>((seed >> 8) % 300);
        t = (seed >> 30) == 0 ? r : t + ((seed >> 28) == 5 ? r * 40 : r / 3);
        times.push_back(t);
    }
    // Channel lines take the kept time text without a call when they can;
    // the time column alone always goes the general way.
    for (const bool channel_lines : {false, true}) {
        for (const int measure_mode : {0, 1}) {
            for (const auto& [division, numerator] : std::vector<std::pair<int, int>>{{96, 4}, {480, 3}, {7, 5}}) {
                std::string expected;
                const std::string listing = written([&, division = division, numerator = numerator] {
                    state.measure_mode = measure_mode;
                    on_header(0, 1, division);
                    state.current_time = 50;
                    on_time_signature(numerator, 2, 24, 8);
                    // Under 4/4 at the signature's tick; whole measures carry on.
                    const int offset = 50 / (division * 4);
                    const int first_beats = 50 / division;
                    expected = measure_mode == 0
                                   ? "50 "
                                   : std::to_string(first_beats / 4) + ":" + std::to_string(first_beats % 4) + ":" +
                                         std::to_string(50 % division) + " ";
                    expected += "TimeSig " + std::to_string(numerator) + "/4 24 8\n";
                    for (const std::int32_t time : times) {
                        state.current_time = time;
                        channel_lines ? on_program(0, 1) : write_time();
                        const std::int32_t since = wrap_sub(time, 50);
                        const std::int32_t beats = since / division;
                        expected += measure_mode == 0 ? std::to_string(time) + " "
                                                      : std::to_string(beats / numerator + offset) + ":" +
                                                            std::to_string(beats % numerator) + ":" +
                                                            std::to_string(since % division) + " ";
                        if (channel_lines) expected += "PrCh ch=1 p=1\n";
                    }
                });
                EXPECT_EQ(listing, "MFile 0 1 " + std::to_string(division) + "\n" + expected)
                    << "division " << division << " measure mode " << measure_mode << " channel lines "
                    << channel_lines;
            }
        }
    }
}

// The score form keeps the text of a beat and counts on to the beats and
// bars after it: every line's bar:beat:tick must be the metre map's, across
// steps short and long, signatures of every kind, and bars of more digits.
TEST(TimeColumn, ScoreTimesAreTheMetreMapsWhateverTheSteps) {
    using namespace test;
    std::uint32_t seed = 99;
    const auto below = [&seed](std::uint32_t n) { return ((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    for (const int division : {96, 480, 7, 1}) {
        score::metre_map metre;
        metre.reset(division);
        bytes events;
        std::vector<std::string> columns;
        std::int64_t time = 0;
        for (int i = 0; i < 4000; ++i) {
            const std::uint32_t kind = below(100);
            const std::uint32_t step = kind < 60   ? below(division + 1)
                                       : kind < 97 ? below(division * 9 + 1)
                                                   : below(400000);
            time += step;
            // A TimeSig line's own time is placed before the bars it starts.
            score::bar_time bars;
            columns.push_back(metre.to_bars(time, bars) ? std::to_string(bars.bar) + ":" + std::to_string(bars.beat) +
                                                              ":" + std::to_string(bars.tick)
                                                        : std::to_string(time));
            if (kind % 50 == 7) {
                const int numerator = static_cast<int>(below(7));
                const int exponent = static_cast<int>(below(6));
                events += meta(step, 0x58,
                               {static_cast<unsigned char>(numerator), static_cast<unsigned char>(exponent), 24, 8});
                metre.add_time_signature(time, numerator, exponent);
            } else {
                events += vlq(step) + bytes{0xC0, 1};
            }
        }
        lister_options score;
        score.score = true;
        const conversion_result result = convert_bytes(header(0, 1, division) + track(events + end_of_track()), score);
        std::vector<std::string> got;
        std::size_t at = result.listing.find("MTrk");
        ASSERT_NE(at, std::string::npos);
        for (at = result.listing.find('\n', at) + 1; at < result.listing.size();) {
            const std::size_t end = result.listing.find('\n', at);
            got.push_back(result.listing.substr(at, result.listing.find(' ', at) - at));
            at = end + 1;
        }
        ASSERT_EQ(got.size(), columns.size() + 2) << "division " << division;  // and TrkEnd's two lines
        for (std::size_t i = 0; i < columns.size(); ++i) {
            ASSERT_EQ(got[i], columns[i]) << "division " << division << " event " << i;
        }
    }
}

// Data bytes are written from tables: every value, as number and as note
// name, and every pitch-bend value the two bytes can make.
TEST(ChannelLines, EveryDataByteValue) {
    const char* names[] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
    for (const int note_names : {0, 1}) {
        std::string expected;
        const std::string listing = written([&] {
            state.note_names = note_names;
            for (int v = 0; v < 256; ++v) {
                on_note_on(15, v, 255 - v);
                on_controller(0, v, v);
                const std::string note = note_names != 0 ? names[v % 12] + std::to_string(v / 12) : std::to_string(v);
                expected += "0 On ch=16 n=" + note + " v=" + std::to_string(255 - v) + "\n";
                expected += "0 Par ch=1 c=" + std::to_string(v) + " v=" + std::to_string(v) + "\n";
            }
        });
        EXPECT_EQ(listing, expected) << "note names " << note_names;
    }
    std::string expected;
    const std::string listing = written([&] {
        for (int high = 0; high < 256; high += 5) {
            for (int low = 0; low < 256; low += 3) {
                on_pitch_bend(2, low, high);
                expected += "0 Pb ch=3 v=" + std::to_string(low + high * 128) + "\n";
            }
        }
    });
    EXPECT_EQ(listing, expected);
}

// The score form writes a note line's text up to its last value as one
// copy made per status byte or channel and note: every one of them, in
// both formats, must read as the tick form's line does.
TEST(ScoreLines, NoteLineTextsAsTheTickFormWritesThem) {
    using namespace test;
    bytes events;
    const std::size_t paired = std::size_t{16} * 128;
    for (unsigned channel = 0; channel < 16; ++channel) {
        for (unsigned note = 0; note < 128; ++note) {
            // A Note, its end a tick on.
            events += {0x01, static_cast<unsigned char>(0x90 | channel), static_cast<unsigned char>(note),
                       static_cast<unsigned char>(1 + note % 127)};
            events += {0x01, static_cast<unsigned char>(0x80 | channel), static_cast<unsigned char>(note), 0x40};
        }
    }
    const std::size_t unpaired = std::size_t{0x30} * 128;
    for (unsigned status = 0x80; status < 0xB0; ++status) {
        for (unsigned note = 0; note < 128; ++note) {
            // Offs before the note-ons, which never end: each lists as it is.
            events += {0x01, static_cast<unsigned char>(status), static_cast<unsigned char>(note),
                       static_cast<unsigned char>(1 + note % 127)};
        }
    }
    const bytes file = header(0, 1, 96) + track(events + end_of_track());
    // Each channel line after its time column.
    const auto bodies = [](const std::string& listing) {
        std::vector<std::string> lines;
        std::size_t at = 0;
        for (std::size_t end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = listing.substr(at, end - at);
            const std::size_t space = line.find(' ');
            if (space != std::string::npos && line.find(" ch=") != std::string::npos)
                lines.push_back(line.substr(space + 1));
        }
        return lines;
    };
    for (const bool long_formats : {false, true}) {
        lister_options tick;
        tick.note_names = 1;
        tick.long_formats = long_formats;
        lister_options score = tick;
        score.score = true;
        const std::vector<std::string> ticks = bodies(convert_bytes(file, tick).listing);
        const std::vector<std::string> notes = bodies(convert_bytes(file, score).listing);
        ASSERT_EQ(ticks.size(), paired * 2 + unpaired);
        ASSERT_EQ(notes.size(), paired + unpaired);
        for (std::size_t i = 0; i < paired; ++i) {
            const std::string& start = ticks[i * 2];  // "On ch=..."
            EXPECT_EQ(notes[i].rfind("Note" + start.substr(2) + " len=", 0), 0u) << notes[i] << " after " << start;
        }
        for (std::size_t i = 0; i < unpaired; ++i) EXPECT_EQ(notes[paired + i], ticks[paired * 2 + i]) << long_formats;
    }
}

}  // namespace
}  // namespace smfasm
