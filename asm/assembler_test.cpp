#include "asm/assembler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asm/listing_reader.h"

namespace smfasm {
namespace {

struct result {
    std::string hex;  // the file's bytes as "4d 54 ..."
    std::string messages;
    int errors = 0;
};

result assemble_text(const std::string& text, assembly_options options = {}) {
    listing_reader reader(text.data(), text.size());
    memory_sink sink;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* messages = open_memstream(&buffer, &size);
    result r;
    r.errors = assemble(reader, "t.mtx", options, sink, messages);
    std::fclose(messages);
    r.messages.assign(buffer, size);
    std::free(buffer);
    char digits[4];
    for (const unsigned char b : sink.bytes) {
        std::snprintf(digits, sizeof digits, "%02x ", b);
        r.hex += digits;
    }
    if (!r.hex.empty()) r.hex.pop_back();
    return r;
}

// The bytes of the one track that `events` make after "MFile 0 1 96".
std::string track_hex(const std::string& events, assembly_options options = {}) {
    const result r = assemble_text("MFile 0 1 96\nMTrk\n" + events + "TrkEnd\n", options);
    EXPECT_EQ(r.errors, 0) << r.messages;
    // Header (14 bytes) and track head (8 bytes) are 22 bytes of "xx ".
    return r.hex.size() > 22 * 3 ? r.hex.substr(22 * 3) : "";
}

TEST(Assembler, EncodesEveryLineOfTheListing) {
    struct row {
        std::string events;
        std::string bytes;
        bool packets = false;
        bool running_status = true;
    };
    const std::vector<row> rows = {
        // Running status only between channel events of one status, and
        // never before a data byte of 128 or more.
        {"0 On ch=1 n=60 v=64\n10 On ch=1 n=62 v=64\n", "00 90 3c 40 0a 3e 40"},
        {"0 On ch=1 n=60 v=64\n0 Meta TrkEnd\n0 On ch=1 n=60 v=0\n", "00 90 3c 40 00 ff 2f 00 00 90 3c 00"},
        {"0 On ch=1 n=60 v=64\n0 On ch=1 n=144 v=64\n", "00 90 3c 40 00 90 90 40"},
        {"0 On ch=1 n=60 v=64\n10 On ch=1 n=62 v=64\n", "00 90 3c 40 0a 90 3e 40", false, false},
        // Both format sets, note names with sharps, flats and capitals.
        {"0 On ch=16 note=c#5 vol=1\n0 Off ch=2 n=Eb4 v=0\n0 PolyPr ch=1 note=d#21 val=7\n",
         "00 9f 3d 01 00 81 33 00 00 a0 ff 07"},
        {"0 Par ch=1 c=7 v=100\n0 Param ch=1 con=7 val=200\n0 PrCh ch=1 p=5\n0 ProgCh ch=1 prog=6\n",
         "00 b0 07 64 00 07 c8 00 c0 05 00 06"},
        {"0 ChPr ch=1 v=5\n0 ChanPr ch=1 val=6\n0 Pb ch=1 v=8192\n0 Pb ch=1 val=32895\n",
         "00 d0 05 00 06 00 e0 00 40 00 e0 ff ff"},
        // Minimal delta times; times wrap in 32 bits.
        {"128 Pb ch=1 v=0\n268435583 Pb ch=1 v=0\n", "81 00 e0 00 00 ff ff ff 7f 00 00"},
        // System exclusive: a message the lister joined (or closed on an
        // empty packet) comes back as one packet and, when it does not end
        // in f7, the empty closing packet; with -m every line is a packet.
        {"0 SysEx f0 7e 7f 09 01 f7\n", "00 f0 05 7e 7f 09 01 f7"},
        {"5 SysEx f0 43 12\n", "05 f0 02 43 12 00 f7 00"},
        {"5 SysEx f0\n", "05 f0 00 00 f7 00"},
        {"5 SysEx f0 43 12\n6 Arb 43 f7\n", "05 f0 02 43 12 01 f7 02 43 f7", true},
        {"0 Arb\n0 SeqSpec 00 01\n0 Meta 0x20 01\n0 Meta 0x21\n",
         "00 f7 00 00 ff 7f 02 00 01 00 ff 20 01 01 00 ff 21 00"},
        // Meta values.
        {"0 SeqNr 258\n0 Tempo 500000\n0 SMPTE 1 2 3 4 255\n",
         "00 ff 00 02 01 02 00 ff 51 03 07 a1 20 00 ff 54 05 01 02 03 04 ff"},
        {"0 KeySig -3 minor\n0 KeySig 2 major\n0 KeySig -128 major\n",
         "00 ff 59 02 fd 01 00 ff 59 02 02 00 00 ff 59 02 80 00"},
        {"0 TimeSig 6/8 144 8\n0 TimeSig 1/1073741824 0 0\n0 TimeSig 0/-2147483648 0 0\n0 TimeSig 0/0 0 0\n",
         "00 ff 58 04 06 03 90 08 00 ff 58 04 01 1e 00 00 00 ff 58 04 00 1f 00 00 00 ff 58 04 00 20 00 00"},
        // Text: every escape, raw bytes, both names of type 3, unnamed types.
        {"0 Meta Text \"A\\\"b\\n\\xe9\\0\\r\\\\\\ \"\n", "00 ff 01 09 41 22 62 0a e9 00 0d 5c 20"},
        {"0 Meta SeqName \"x\"\n0 Meta TrkName \"y\"\n0 Meta Unrec \"\"\n0 Meta 0x09 \"\xc3\xa9\"\n",
         "00 ff 03 01 78 00 ff 03 01 79 00 ff 08 00 00 ff 09 02 c3 a9"},
        // Folded lines, comments, blank lines and CR LF line ends.
        {"0 SysEx\\\n\tf0 7e\\\n\t7f\n", "00 f0 02 7e 7f 00 f7 00"},
        {"0 Meta Lyric \"ab\\\r\n\tc\\\n\t\\ d\\\\\\\n\te\"\r\n", "00 ff 05 07 61 62 63 20 64 5c 65"},
        {"# a comment\n\n0 ChPr ch=1 v=1\r\n", "00 d0 01"},
    };
    for (const row& r : rows) {
        assembly_options options;
        options.packets = r.packets;
        options.running_status = r.running_status;
        EXPECT_EQ(track_hex(r.events, options), r.bytes) << r.events;
    }
}

TEST(Assembler, ReadsMeasureTimesThroughTheListersMetre) {
    // Division 96 in 4/4, a 4/4 signature at tick 1920 of the first track:
    // in the second track 1:-2:-92 is tick 100 again.
    const result r = assemble_text(
        "MFile 1 2 96\nMTrk\n0:0:0 TimeSig 4/4 24 8\n5:0:0 TimeSig 4/4 24 8\n5:0:0 Meta TrkEnd\nTrkEnd\n"
        "MTrk\n1:-2:-92 ChPr ch=1 v=0\n1:1:20 ChPr ch=1 v=0\nTrkEnd\n");
    ASSERT_EQ(r.errors, 0) << r.messages;
    // Then 1:1:20 is (1 - 5) x 4 + 1 = -15 beats of 96, plus 20, plus
    // 1920: tick 500, a delta of 400.
    EXPECT_NE(r.hex.find("4d 54 72 6b 00 00 00 06 64 d0 00 83 10 00"), std::string::npos) << r.hex;
    // A metre is needed: none in SMPTE time.
    EXPECT_EQ(assemble_text("MFile 0 1 -25 40\nMTrk\n0:0:0 ChPr ch=1 v=0\nTrkEnd\n").errors, 1);
}

// Listings that are right as they stand: not a word, even under --strict.
TEST(Assembler, StrictPassesSoundListings) {
    assembly_options strict;
    strict.strict = true;
    const std::vector<std::string> listings = {
        // The end of track written by its type, with a payload or not.
        "0 ChPr ch=1 v=1\n0 Meta 0x2F\n",
        "0 ChPr ch=1 v=1\n0 Meta 0x2f 01 02\n",
        // Notes ended either way, a key struck again before its off, keys
        // above 127 (warned of as such) left out of the count.
        "0 On ch=1 n=60 v=1\n0 On ch=1 n=60 v=1\n1 Off ch=1 n=60 v=0\n1 On ch=1 n=c5 v=0\n1 Meta TrkEnd\n",
        "0 On ch=16 n=127 v=1\n0 Off ch=16 n=127 v=9\n0 On ch=1 n=0 v=1\n0 On ch=1 n=0 v=0\n0 Meta TrkEnd\n",
        // The last beat and tick of a bar, and negative times as the lister
        // writes them before a metre change.
        "0:3:95 ChPr ch=1 v=1\n1:0:0 ChPr ch=1 v=1\n1:0:0 Meta TrkEnd\n",
    };
    for (const std::string& events : listings) {
        const result r = assemble_text("MFile 0 1 96\nMTrk\n" + events + "TrkEnd\n", strict);
        EXPECT_EQ(r.errors, 0) << events;
        EXPECT_EQ(r.messages, "") << events;
    }
}

TEST(Assembler, EmptyListingIsAnErrorAndTheTrackCountIsCorrected) {
    for (const std::string text : {"", "# nothing\n\n", "  # x\n"}) {
        const result empty = assemble_text(text);
        EXPECT_EQ(empty.errors, 1);
        EXPECT_EQ(empty.hex, "");
        EXPECT_EQ(empty.messages, "t.mtx: no MFile line: nothing to assemble\n");
    }
    // The header counts the tracks the listing holds, and says so.
    const result fewer = assemble_text("MFile 1 3 96\nMTrk\n0 Meta TrkEnd\nTrkEnd\n");
    EXPECT_EQ(fewer.errors, 0);
    EXPECT_EQ(fewer.hex, "4d 54 68 64 00 00 00 06 00 01 00 01 00 60 4d 54 72 6b 00 00 00 04 00 ff 2f 00");
    EXPECT_EQ(fewer.messages,
              "t.mtx:1:9: warning: MFile announces 3 tracks, the listing holds 1: the file's header says 1\n"
              "MFile 1 3 96\n        ^\n");
    EXPECT_EQ(assemble_text("MFile 1 0 -25 40\n").hex, "4d 54 68 64 00 00 00 06 00 01 00 00 e7 28");
}

TEST(Assembler, StopsReportingAfterTwentyErrors) {
    std::string text = "MFile 0 1 96\nMTrk\n";
    for (int i = 0; i < 30; ++i) text += "0 Bogus\n";
    const result r = assemble_text(text);
    EXPECT_EQ(r.errors, max_reported_errors);
    EXPECT_NE(r.messages.find("t.mtx:22:3: unknown keyword \"Bogus\""), std::string::npos);
    EXPECT_EQ(r.messages.find("t.mtx:23:"), std::string::npos);
    EXPECT_NE(r.messages.find("stopped after 20 errors"), std::string::npos);
}

TEST(Assembler, KeepsMessagesAsDataWithOrWithoutText) {
    const std::string text = "MFile 1 2 96\nMTrk\n0 On ch=1 n=60 v=x\n0 Bogus\n0 Meta TrkEnd\nTrkEnd\n";
    for (const bool strict : {false, true}) {
        for (const bool formatted : {false, true}) {
            listing_reader reader(text.data(), text.size());
            memory_sink sink;
            std::vector<assembly_message> said;
            assembly_options options;
            options.strict = strict;
            char* buffer = nullptr;
            std::size_t size = 0;
            std::FILE* stream = formatted ? open_memstream(&buffer, &size) : nullptr;
            const int errors = assemble(reader, "t.mtx", options, sink, stream, &said);
            if (stream != nullptr) std::fclose(stream);
            const std::string shown = buffer != nullptr ? std::string(buffer, size) : "";
            std::free(buffer);
            EXPECT_EQ(errors, 2);
            ASSERT_EQ(said.size(), 2U);
            EXPECT_FALSE(said[0].warning);
            EXPECT_EQ(said[0].line, 3);
            EXPECT_EQ(said[0].column, 18);
            EXPECT_EQ(said[0].text.find("t.mtx"), std::string::npos) << said[0].text;
            EXPECT_EQ(said[1].line, 4);
            EXPECT_EQ(said[1].column, 3);
            if (formatted) {
                EXPECT_NE(shown.find("t.mtx:3:18: " + said[0].text + "\n"), std::string::npos) << shown;
            }
        }
        // A warning, which --strict makes an error.
        const std::string fewer = "MFile 1 3 96\nMTrk\n0 Meta TrkEnd\nTrkEnd\n";
        listing_reader reader(fewer.data(), fewer.size());
        memory_sink sink;
        std::vector<assembly_message> said;
        assembly_options options;
        options.strict = strict;
        EXPECT_EQ(assemble(reader, "t.mtx", options, sink, nullptr, &said), strict ? 1 : 0);
        ASSERT_EQ(said.size(), 1U);
        EXPECT_EQ(said[0].warning, !strict);
    }
}

// The file and every message, as data.
std::string assembled_with_messages(const std::string& text) {
    listing_reader reader(text.data(), text.size());
    memory_sink sink;
    std::vector<assembly_message> said;
    assemble(reader, "t.mtx", {}, sink, nullptr, &said);
    std::string out(sink.bytes.begin(), sink.bytes.end());
    for (const assembly_message& m : said) {
        out += "\n" + std::to_string(m.line) + ":" + std::to_string(m.column) + (m.warning ? " w " : " e ") + m.text;
    }
    return out;
}

// A score listing of two tracks in bars of 4/4, 3/4 and 6/8, mostly as the
// lister writes it, with lines now and then that warn, fail or carry marks.
std::string random_score_listing(unsigned seed) {
    std::mt19937 random(seed);
    const auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const auto one_in = [&pick](int n) { return pick(n) == 0; };
    struct bar_metre {
        int beats;
        int ticks;
        const char* signature;  // written where it starts
    };
    const bar_metre metres[] = {{4, 96, ""},    {4, 96, ""}, {3, 96, "3/4"}, {3, 96, ""},
                                {6, 48, "6/8"}, {6, 48, ""}, {4, 96, "4/4"}, {4, 96, ""}};
    const char* lengths[] = {"1/4", "1/8.", "1/16t", "1/1", "1/64", "1/128", "1/3", "2/4", "0", "95", "300000000"};
    const char* marks[] = {" end=on",   " end=0",       " end=200", " endpos=1", " status=1",
                           " status=0", " endstatus=1", " len=5",   " bogus=1"};
    std::string text = "MFile 1 2 96 score\n";
    for (int track = 0; track < 2; ++track) {
        text += track == 0 ? "MTrk\n" : "MTrk end=on order=last running=On,Par carry=1\n";
        for (int bar = 1; bar <= 8; ++bar) {
            const bar_metre& m = metres[bar - 1];
            const std::string at = std::to_string(bar) + ":";
            if (track == 0 && *m.signature != 0) text += at + "1:0 TimeSig " + m.signature + " 24 8\n";
            int position = 0;
            for (int event = pick(12); event > 0; --event) {
                position += pick(m.ticks);
                int beat = position / m.ticks + 1;
                int tick = position % m.ticks;
                if (beat > m.beats) break;
                if (one_in(40)) beat = m.beats + 1;
                if (one_in(40)) tick += m.ticks;
                std::string line = at + std::to_string(beat) + ":" + std::to_string(tick) + " ";
                const std::string channel = "ch=" + std::to_string(1 + pick(3));
                const char* names[] = {"n=c#4", "n=a10", "n=g10", "n=g#10", "n=Eb4", "n=c100", "n=e"};
                const std::string key = one_in(2) ? "n=" + std::to_string(pick(5) * 12) : names[pick(7)];
                const auto add = [&line](std::initializer_list<std::string_view> parts) {
                    for (const std::string_view part : parts) line += part;
                };
                switch (pick(8)) {
                    case 0:
                    case 1:
                    case 2:
                        add({"Note ", channel, " ", key, " v=", std::to_string(one_in(30) ? 0 : 1 + pick(127)),
                             " len=", one_in(3) ? std::to_string(pick(400)) : lengths[pick(8) + (one_in(5) ? 3 : 0)]});
                        if (one_in(2)) add({" end=", std::to_string(pick(128))});
                        if (one_in(5)) line += marks[pick(9)];
                        break;
                    case 3: add({"On ", channel, " ", key, " v=", std::to_string(pick(128))}); break;
                    case 4: add({"Off ", channel, " ", key, " v=", std::to_string(pick(128))}); break;
                    case 5: add({"Par ", channel, " c=", std::to_string(pick(130)), " v=7"}); break;
                    case 6: add({"Pb ", channel, " v=", std::to_string(pick(17000))}); break;
                    default:
                        if (one_in(2)) {
                            add({"PrCh ", channel, " p=3"});
                        } else {
                            line += "Meta Text \"x\"";
                        }
                        break;
                }
                if (one_in(30)) line += marks[4 + pick(2)];
                text += line + "\n";
            }
        }
        text += "9:1:0 Meta TrkEnd\nTrkEnd\n";
    }
    return text;
}

// The quick reader takes a score line only when the general reader would
// make the same bytes and say nothing: a comment behind every line keeps
// the quick reader away, and must change nothing.
TEST(Assembler, ScoreLinesReadQuicklyAsTheGeneralReaderReadsThem) {
    std::vector<std::string> listings = {
        // A bar cut short, beats and ticks beyond theirs, and an SMPTE file in ticks.
        "MFile 1 2 96 score\nMTrk\n1:1:0 Note ch=1 n=c4 v=9 len=1/2\n1:3:0 TimeSig 3/4 24 8\n2:1:0 TimeSig 3/4 24 "
        "8\n2:4:0 ChPr ch=1 v=1\n3:1:96 ChPr ch=1 v=1\n3:1:0 Meta TrkEnd\nTrkEnd\nMTrk\n1:3:0 ChPr ch=1 v=1\n"
        "2:1:0 Note ch=1 n=c4 v=9 len=1/4.\n2:2:0 Off ch=1 n=c4 v=9\n3:1:0 Meta TrkEnd\nTrkEnd\n",
        "MFile 0 1 -25 40 score\nMTrk\n0 Note ch=1 n=c4 v=9 len=40\n10 Note ch=1 n=c4 v=9 len=1/4\n50 Meta TrkEnd\n"
        "TrkEnd\n",
        // A beat cut short by a time signature inside it, read on in a later
        // track: the second line of the beat is in the next bar.
        "MFile 1 2 96 score\nMTrk\n1:2:50 TimeSig 3/4 24 8\n2:1:0 Meta TrkEnd\nTrkEnd\nMTrk\n1:2:10 ChPr ch=1 v=1\n"
        "1:2:60 ChPr ch=1 v=1\n2:1:0 Meta TrkEnd\nTrkEnd\n",
    };
    for (unsigned seed = 1; seed <= 40; ++seed) listings.push_back(random_score_listing(seed));
    for (const std::string& listing : listings) {
        std::string commented;
        for (std::size_t at = 0; at < listing.size();) {
            const std::size_t end = listing.find('\n', at);
            const std::string line = listing.substr(at, end - at);
            commented += line + (line[0] >= '0' && line[0] <= '9' ? " #q\n" : "\n");
            at = end + 1;
        }
        EXPECT_EQ(assembled_with_messages(listing), assembled_with_messages(commented)) << listing;
    }
}

// bar:beat:tick on the lines the general reader reads (a Meta, a TimeSig)
// gives the time the same line gives in ticks; each time beyond its beat or
// bar, or in a bar cut short, is still said.
TEST(Assembler, ScoreTimesOnOtherLinesAreTheirTicksAndWarnAsTheyDid) {
    // 4/4 at 96 ticks a beat, then 3/4 from tick 192, which cuts bar 1 short.
    const std::vector<std::pair<std::string, std::string>> times = {
        {"1:1:0", "0"},   {"1:2:95", "191"}, {"1:3:0", "192"},  {"1:3:0", "192"},
        {"2:1:5", "197"}, {"2:4:0", "480"},  {"3:1:96", "576"}, {"4:1:0", "768"},
    };
    const std::vector<std::string> events = {
        "Meta Text \"a\"", "Meta Text \"b\"", "TimeSig 3/4 24 8", "Meta Text \"x\"",
        "Meta Text \"c\"", "Meta Text \"d\"", "Meta Text \"e\"",  "Meta TrkEnd",
    };
    std::string bars = "MFile 0 1 96 score\nMTrk\n";
    std::string ticks = bars;
    for (std::size_t i = 0; i < times.size(); ++i) {
        bars += times[i].first + " " + events[i] + "\n";
        ticks += times[i].second + " " + events[i] + "\n";
    }
    const result by_bars = assemble_text(bars + "TrkEnd\n");
    const result by_ticks = assemble_text(ticks + "TrkEnd\n");
    EXPECT_EQ(by_bars.errors, 0) << by_bars.messages;
    EXPECT_EQ(by_bars.hex, by_ticks.hex);
    EXPECT_EQ(by_ticks.messages, "");
    for (const char* said :
         {"t.mtx:6:1: warning: bar 1 ends early, where the time signature changes",
          "t.mtx:8:3: warning: beat 4 is beyond its bar, which has 3 beats (they count from 1)",
          "t.mtx:9:5: warning: tick 96 is beyond its beat, which has 96 ticks (they count from 0)"}) {
        EXPECT_NE(by_bars.messages.find(said), std::string::npos) << by_bars.messages;
    }
}

// The score form's times run past 32 bits: a step of 2^32 ticks and more
// is too long, not taken for its last 32 bits, by either reader.
TEST(Assembler, ScoreStepsOfTwoToThe32TicksAreTooLong) {
    for (const std::string behind : {"", " #q"}) {
        const result r = assemble_text("MFile 1 1 96 score\nMTrk\n0 Par ch=1 c=7 v=1" + behind +
                                       "\n4294967300 Par ch=1 c=7 v=2" + behind + "\n4294967400 Meta TrkEnd\nTrkEnd\n");
        EXPECT_EQ(r.errors, 1) << r.messages;
        EXPECT_NE(r.messages.find("tick 4294967300 is 4294967300 ticks after tick 0, more than a MIDI file can hold"),
                  std::string::npos)
            << r.messages;
    }
}

}  // namespace
}  // namespace smfasm
