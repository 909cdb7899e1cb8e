#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "reader/reader.h"
#include "state/state.h"
#include "tests/support/in_process.h"

namespace smfasm {
namespace {

using namespace test;

const bytes format0 = header(0, 1, 96);

struct file_case {
    const char* name;
    bytes input;
    std::string listing;
    std::string message;  // empty: the conversion completes
};

void check(const std::vector<file_case>& cases, const lister_options& options = {}) {
    for (const file_case& c : cases) {
        const conversion_result result = convert_bytes(c.input, options);
        EXPECT_EQ(result.listing, c.listing) << c.name;
        EXPECT_EQ(result.messages, c.message) << c.name;
        EXPECT_EQ(result.stopped, !c.message.empty()) << c.name;
        EXPECT_EQ(result.status, c.message.empty() ? 0 : 1) << c.name;
    }
}

const std::string garbage = "Error: Garbage at end\n";

TEST(Framing, ChunksAndTheirEnds) {
    const bytes one_note = track({0x00, 0x90, 0x3C, 0x40});
    const std::string note_listing = "MTrk\n0 On ch=1 n=60 v=64\nTrkEnd\n";
    check({
        {"empty input", {}, "", ""},
        {"not a header", text_bytes("RIFF"), "", garbage},
        {"header tag cut short", text_bytes("MTh"), "", ""},
        {"three bytes differing from MThd", text_bytes("MTr"), "", garbage},
        {"header only", format0, "MFile 0 1 96\n", ""},
        {"header length 10 skips four bytes", header(1, 1, 480, 10) + bytes{1, 2, 3, 4} + one_note,
         "MFile 1 1 480\n" + note_listing, ""},
        {"header length 0 still has three fields", header(1, 1, 480, 0) + one_note, "MFile 1 1 480\n" + note_listing,
         ""},
        {"header length 2^31 skips to the end", header(1, 1, 480, 0x80000000u) + one_note, "MFile 1 1 480\n",
         "Error: premature EOF\n"},
        {"header cut inside its fields", bytes(format0.begin(), format0.begin() + 11), "", garbage},
        {"tag cut short after the last track", format0 + one_note + text_bytes("MTr"), "MFile 0 1 96\n" + note_listing,
         ""},
        {"more tracks than announced", format0 + one_note + one_note, "MFile 0 1 96\n" + note_listing + note_listing,
         ""},
        {"error in an unannounced track", format0 + one_note + track({0x00, 0xF4}),
         "MFile 0 1 96\n" + note_listing + "MTrk\n", garbage},
        {"trailing bytes after all tracks", format0 + one_note + text_bytes("XXXX"), "MFile 0 1 96\n" + note_listing,
         garbage},
        {"trailing bytes before the last track", header(1, 2, 96) + one_note + text_bytes("MThd"),
         "MFile 1 2 96\n" + note_listing, "Error: expecting MTrk\n"},
        {"track length 0", format0 + track({}) + one_note, "MFile 0 1 96\nMTrk\nTrkEnd\n" + note_listing, ""},
        {"track length 2^31", format0 + track({}, 0x80000000u) + one_note,
         "MFile 0 1 96\nMTrk\nTrkEnd\n" + note_listing, ""},
        {"track cut inside its length", format0 + text_bytes("MTrk") + bytes{0, 0}, "MFile 0 1 96\n",
         "Error: premature EOF\n"},
        {"event cut short", format0 + track({0x00, 0x90, 0x3C}), "MFile 0 1 96\nMTrk\n", "Error: premature EOF\n"},
        // The length is tested only between events: the second note is read
        // whole although the chunk claims two bytes.
        {"event running past the chunk", format0 + track({0x00, 0x90, 0x3C, 0x40}, 2) + one_note,
         "MFile 0 1 96\n" + note_listing + note_listing, ""},
        {"format 3", header(3, 1, 96), "MFile 3 1 96\n", "Can't deal with format 3 files\n"},
    });
}

TEST(Events, RunningStatusAndDeltaTimes) {
    check({
        {"running status across a meta event",
         format0 + track(bytes{0x00, 0x90, 0x3C, 0x40} + meta(0, 0x01, text_bytes("x")) + bytes{0x0A, 0x3E, 0x40}),
         "MFile 0 1 96\nMTrk\n0 On ch=1 n=60 v=64\n0 Meta Text \"x\"\n10 On ch=1 n=62 v=64\nTrkEnd\n", ""},
        {"first event a data byte", format0 + track({0x00, 0x3C, 0x40}), "MFile 0 1 96\nMTrk\n",
         "Error: unexpected running status\n"},
        {"running status does not cross tracks", format0 + track({0x00, 0x90, 0x3C, 0x40}) + track({0x00, 0x3C, 0x40}),
         "MFile 0 1 96\nMTrk\n0 On ch=1 n=60 v=64\nTrkEnd\nMTrk\n", garbage},
        {"delta 81 00 is 128", format0 + track({0x81, 0x00, 0xC0, 0x05}),
         "MFile 0 1 96\nMTrk\n128 PrCh ch=1 p=5\nTrkEnd\n", ""},
        {"delta FF FF FF 7F", format0 + track({0xFF, 0xFF, 0xFF, 0x7F, 0xD1, 0x05}),
         "MFile 0 1 96\nMTrk\n268435455 ChPr ch=2 v=5\nTrkEnd\n", ""},
        // Overlong quantities and large sums wrap in 32 bits.
        {"time wraps",
         format0 + track(vlq(0x7FFFFFFF & 0x0FFFFFFF) + bytes{0xC0, 1} + vlq(0x0FFFFFFF) + bytes{1} + vlq(0x0FFFFFFF) +
                         bytes{1} + vlq(0x0FFFFFFF) + bytes{1} + bytes{0x81, 0x00, 1}),
         "MFile 0 1 96\nMTrk\n268435455 PrCh ch=1 p=1\n536870910 PrCh ch=1 p=1\n805306365 PrCh ch=1 p=1\n"
         "1073741820 PrCh ch=1 p=1\n1073741948 PrCh ch=1 p=1\nTrkEnd\n",
         ""},
        {"data bytes are not tested", format0 + track({0x00, 0x90, 0x90, 0x40}),
         "MFile 0 1 96\nMTrk\n0 On ch=1 n=144 v=64\nTrkEnd\n", ""},
        {"every channel message",
         format0 + track({0x00, 0x85, 1,    2, 0x00, 0x9F, 3,  0,    0x00, 0xA0, 4,    5,    0x00, 0xB1, 7,
                          100,  0x00, 0xC2, 9, 0x00, 0xD3, 10, 0x00, 0xE4, 0x00, 0x40, 0x00, 0x01, 0x02}),
         "MFile 0 1 96\nMTrk\n0 Off ch=6 n=1 v=2\n0 On ch=16 n=3 v=0\n0 PoPr ch=1 n=4 v=5\n0 Par ch=2 c=7 v=100\n"
         "0 PrCh ch=3 p=9\n0 ChPr ch=4 v=10\n0 Pb ch=5 v=8192\n0 Pb ch=5 v=257\nTrkEnd\n",
         ""},
        {"end of track meta does not end the track", format0 + track(end_of_track() + bytes{0x00, 0x90, 0x3C, 0x40}),
         "MFile 0 1 96\nMTrk\n0 Meta TrkEnd\n0 On ch=1 n=60 v=64\nTrkEnd\n", ""},
    });
    for (const int status : {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF8, 0xFE}) {
        char message[64];
        std::snprintf(message, sizeof message, "Error: unexpected byte: 0x%02x\n", status);
        check({{"system status", format0 + track({0x00, static_cast<unsigned char>(status)}), "MFile 0 1 96\nMTrk\n",
                message}});
    }
}

TEST(SystemExclusive, JoiningOn) {
    const std::string head = "MFile 0 1 96\nMTrk\n";
    check({
        {"complete message", format0 + track({0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
         head + "0 SysEx f0 7e 7f 09 01 f7\nTrkEnd\n", ""},
        {"joined at the closing packet",
         format0 + track({0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x05, 0xF7, 0x02, 0x43, 0xF7}),
         head + "5 SysEx f0 43 12 00 43 f7\nTrkEnd\n", ""},
        {"three packets", format0 + track({0x00, 0xF0, 0x01, 0x43, 0x01, 0xF7, 0x01, 0x44, 0x01, 0xF7, 0x01, 0xF7}),
         head + "2 SysEx f0 43 44 f7\nTrkEnd\n", ""},
        {"empty packets", format0 + track({0x00, 0xF0, 0x00, 0x00, 0xF7, 0x00}), head + "0 SysEx f0\nTrkEnd\n", ""},
        {"no continuation", format0 + track({0x00, 0xF0, 0x01, 0x43, 0x00, 0x90, 0x3C, 0x40}), head,
         "Error: didn't find expected continuation of a sysex\n"},
        {"dropped at the end of its track", format0 + track({0x00, 0xF0, 0x01, 0x43}) + track({0x00, 0xF7, 0x01, 0x45}),
         head + "TrkEnd\nMTrk\n0 Arb 45\nTrkEnd\n", ""},
        {"arbitrary bytes", format0 + track({0x00, 0xF7, 0x03, 0x90, 0x3C, 0x40, 0x00, 0xF7, 0x00}),
         head + "0 Arb 90 3c 40\n0 Arb\nTrkEnd\n", ""},
        {"payload running past the chunk", format0 + track({0x00, 0xF0, 0x03, 0xF7}) + bytes{0x01, 0xF7},
         head + "0 SysEx f0 f7 01 f7\nTrkEnd\n", ""},
        {"payload cut short", format0 + track({0x00, 0xF0, 0x03, 0x01}), head, "Error: premature EOF\n"},
    });
}

// The score form reads channel events through its own loop, which must
// leave a SysEx message waiting for its continuation to the common one:
// anything but the continuation stops both forms alike, and the
// continuation is met wherever the block ends.
TEST(SystemExclusive, ScoreFormWaitsForTheContinuation) {
    lister_options score;
    score.score = true;
    for (const bytes& events :
         {bytes{0x00, 0xF0, 0x01, 0x43, 0x00, 0x90, 0x3C, 0x40},
          bytes{0x00, 0xF0, 0x01, 0x43, 0x00, 0x90, 0x3C, 0x40, 0x00, 0x3C, 0x00, 0x00, 0xF7, 0x01, 0xF7}}) {
        const bytes file = format0 + track(events + end_of_track());
        const conversion_result in_score = convert_bytes(file, score);
        EXPECT_EQ(in_score.listing, "MFile 0 1 96 score\nMTrk\n");
        EXPECT_EQ(in_score.messages, convert_bytes(file).messages);
        EXPECT_EQ(in_score.status, 1);
    }
    // The continuation's time step at each of the block's last bytes.
    constexpr std::size_t block = std::size_t{64} * 1024;
    constexpr std::size_t before_text = 22 + 6;  // the header, the track's and the text event's
    for (std::size_t k = 1; k <= 8; ++k) {
        const bytes text(block - before_text - 4 - k, 'x');
        const bytes events =
            meta(0, 0x01, text) + bytes{0x00, 0xF0, 0x01, 0x43, 0x00, 0xF7, 0x02, 0x44, 0xF7} + end_of_track();
        const conversion_result in_score = convert_bytes(format0 + track(events), score);
        EXPECT_EQ(in_score.messages, "") << k;
        EXPECT_NE(in_score.listing.find("1:1:0 SysEx f0 43 44 f7\n"), std::string::npos) << k;
    }
}

TEST(SystemExclusive, JoiningOff) {
    check({{"packets stand alone", format0 + track({0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x00, 0xF7, 0x02, 0x43, 0xF7}),
            "MFile 0 1 96\nMTrk\n0 SysEx f0 43 12 00\n0 Arb 43 f7\nTrkEnd\n", ""}},
          {.merge_sysex = 0});
}

TEST(SystemExclusive, LongPayloadsGrowTheBuffer) {
    for (const std::size_t size : {127u, 128u, 129u, 300u, 70000u}) {
        bytes payload(size);
        for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<unsigned char>(i & 0x7F);
        payload[size - 1] = 0xF7;
        std::string dump = "0 SysEx f0";
        for (const unsigned char b : payload) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", b);
            dump += hex;
        }
        check({{"long sysex", format0 + track(bytes{0x00, 0xF0} + vlq(static_cast<std::uint32_t>(size)) + payload),
                "MFile 0 1 96\nMTrk\n" + dump + "\nTrkEnd\n", ""}});
        EXPECT_GE(state.message_buffer.capacity, static_cast<std::int32_t>(size + 1));
    }
}

TEST(Meta, EveryType) {
    const std::string head = "MFile 0 1 96\nMTrk\n";
    check({
        {"values",
         format0 +
             track(meta(0, 0x00, {0x00, 0x05}) + meta(0, 0x51, {0x07, 0xA1, 0x20}) + meta(0, 0x54, {0x61, 0, 1, 2, 3}) +
                   meta(0, 0x58, {6, 3, 0x90, 8}) + meta(0, 0x59, {0xFD, 1}) + meta(0, 0x7F, {0x00, 0x00, 0x41}) +
                   meta(0, 0x20, {0x01}) + meta(0, 0x21, {}) + meta(0, 0x0F, text_bytes("z")) +
                   meta(0, 0x03, text_bytes("Song")) + meta(0, 0x02, text_bytes("(c)"))),
         head + "0 SeqNr 5\n0 Tempo 500000\n0 SMPTE 97 0 1 2 3\n0 TimeSig 6/8 144 8\n0 KeySig -3 minor\n"
                "0 SeqSpec 00 00 41\n0 Meta 0x20 01\n0 Meta 0x21\n0 Meta 0x0f \"z\"\n0 Meta SeqName \"Song\"\n"
                "0 Meta Copyright \"(c)\"\nTrkEnd\n",
         ""},
        // Short payloads read their missing positions as 0; extra bytes are
        // ignored.
        {"short and long payloads",
         format0 + track(meta(0, 0x00, {0x01}) + meta(0, 0x51, {}) + meta(0, 0x54, {1, 2}) + meta(0, 0x58, {3}) +
                         meta(0, 0x59, {}) + meta(0, 0x51, {0, 0, 1, 9, 9})),
         head + "0 SeqNr 256\n0 Tempo 0\n0 SMPTE 1 2 0 0 0\n0 TimeSig 3/1 0 0\n0 KeySig 0 major\n0 Tempo 1\nTrkEnd\n",
         ""},
        {"meta cut inside its type", format0 + track({0x00, 0xFF}, 2), head, "Error: premature EOF\n"},
        {"sequence name in the second track",
         header(1, 2, 96) + track(meta(0, 3, text_bytes("A"))) + track(meta(0, 3, text_bytes("B"))),
         "MFile 1 2 96\nMTrk\n0 Meta SeqName \"A\"\nTrkEnd\nMTrk\n0 Meta TrkName \"B\"\nTrkEnd\n", ""},
    });
}

TEST(Measures, TimeSignaturesAcrossTracks) {
    check(
        {{"measure column",
          header(1, 2, 96) +
              track(meta(0, 0x58, {4, 2, 24, 8}) + bytes{0x83, 0x74, 0x90, 60, 64} + meta(0x0F, 0x58, {4, 2, 24, 8})) +
              track(bytes{0x64, 0x90, 60, 0}),
          "MFile 1 2 96\nMTrk\n0:0:0 TimeSig 4/4 24 8\n1:1:20 On ch=1 n=60 v=64\n1:1:35 TimeSig 4/4 24 8\nTrkEnd\n"
          "MTrk\n0:0:-31 On ch=1 n=60 v=0\nTrkEnd\n",
          ""}},
        {.measure_mode = 1});
}

}  // namespace
}  // namespace smfasm

namespace smfasm {
namespace {

using namespace test;

// A valid multi-track file cut at every byte offset converts to a prefix of
// the full listing, ending normally only between chunks.
TEST(Truncation, EveryPrefixOfAValidFile) {
    const std::vector<bytes> tracks = {
        meta(0, 3, text_bytes("Song")) + meta(0, 0x51, {0x07, 0xA1, 0x20}) + meta(0, 0x58, {3, 2, 24, 8}) +
            bytes{0x00, 0x90, 60, 64, 0x60, 62, 64, 0x81, 0x00, 0x80, 60, 0} + end_of_track(),
        bytes{0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x10, 0xF7, 0x02, 0x43, 0xF7, 0x00, 0xB1, 7, 100, 0x05, 10, 64} +
            meta(0, 1, text_bytes("a \"text\"")) + bytes{0x83, 0x60, 0xE1, 0x00, 0x40} + end_of_track(),
        bytes{0x00, 0xC2, 5, 0x00, 0xD2, 9} + meta(0, 0x7F, {0, 0, 0x41}) + end_of_track(),
    };
    bytes file = header(1, 3, 96);
    std::vector<std::size_t> boundaries = {file.size()};
    for (const bytes& t : tracks) {
        file += track(t);
        boundaries.push_back(file.size());
    }
    const conversion_result full = convert_bytes(file);
    ASSERT_FALSE(full.stopped);

    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        const conversion_result result = convert_bytes(bytes(file.begin(), file.begin() + static_cast<long>(cut)));
        EXPECT_EQ(result.listing, full.listing.substr(0, result.listing.size())) << "cut at " << cut;
        bool at_boundary = cut < 4;
        for (const std::size_t b : boundaries) at_boundary = at_boundary || (cut >= b && cut < b + 4);
        const std::string expected = at_boundary ? "" : cut < 14 ? "Error: Garbage at end\n" : "Error: premature EOF\n";
        EXPECT_EQ(result.messages, expected) << "cut at " << cut;
        EXPECT_EQ(result.status, expected.empty() ? 0 : 1) << "cut at " << cut;
    }
}

// Input comes in blocks, and channel events are read from a block without
// per-byte tests when they lie whole in it: events straddling every block
// boundary, with time steps of one to five bytes (overlong ones included),
// must list the same from a file, a pipe and a stream with no descriptor.
TEST(BlockInput, EventsAcrossBlockBoundariesFromEverySource) {
    const std::vector<bytes> steps = {
        {0x00}, {0x05}, {0x81, 0x00}, {0x80, 0x80, 0x01}, {0x80, 0x80, 0x80, 0x00}, {0x80, 0x80, 0x80, 0x80, 0x02}};
    const std::vector<std::uint32_t> step_values = {0, 5, 128, 1, 0, 2};
    bytes events;
    std::string expected = "MFile 0 1 96\nMTrk\n";
    std::uint32_t time = 0;
    for (int i = 0; events.size() < 300000; ++i) {
        const auto k = static_cast<std::size_t>(i * 7 % 11 % steps.size());
        events += steps[k];
        time += step_values[k];
        const int note = i % 128;
        // Now and then a note-on at 0, which ends a note in the score form.
        const int velocity = i % 7 == 3 ? 0 : i * 5 % 128;
        if (i % 13 == 0) {
            events += {0xC3, static_cast<unsigned char>(note)};
            expected += std::to_string(time) + " PrCh ch=4 p=" + std::to_string(note) + "\n";
        } else {
            // A status byte after a program change, running status otherwise.
            if (i % 13 == 1) events.push_back(0x90);
            events += {static_cast<unsigned char>(note), static_cast<unsigned char>(velocity)};
            expected +=
                std::to_string(time) + " On ch=1 n=" + std::to_string(note) + " v=" + std::to_string(velocity) + "\n";
        }
    }
    events += end_of_track();
    expected += std::to_string(time) + " Meta TrkEnd\nTrkEnd\n";
    const bytes file = header(0, 1, 96) + track(events);

    // The score form reads channel events from a block through its own
    // loop, and leaves the rest to the common one: where a block ends
    // decides which reads an event, and must not change the listing.
    lister_options score;
    score.score = true;
    const std::string score_expected = convert_bytes(file, score).listing;
    ASSERT_NE(score_expected.find("Note ch=1"), std::string::npos);
    for (const bool in_score : {false, true}) {
        const std::string& wanted = in_score ? score_expected : expected;
        const char* form = in_score ? "score form, " : "";
        EXPECT_EQ(convert_bytes(file, in_score ? score : lister_options{}).listing, wanted) << form << "file";

        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread feeder([&] {
            // Odd-sized writes, so that reads return short blocks too.
            for (std::size_t at = 0; at < file.size(); at += 4099) {
                const std::size_t n = std::min<std::size_t>(4099, file.size() - at);
                if (write(ends[1], file.data() + at, n) != static_cast<ssize_t>(n)) break;
            }
            close(ends[1]);
        });
        const conversion_result piped = capture([&] {
            state.score_form = in_score ? 1 : 0;
            state.input = fdopen(ends[0], "rb");
            convert_file();
        });
        feeder.join();
        EXPECT_EQ(piped.listing, wanted) << form << "pipe";

        bytes copy = file;
        const conversion_result memory = capture([&] {
            state.score_form = in_score ? 1 : 0;
            state.input = fmemopen(copy.data(), copy.size(), "rb");
            convert_file();
        });
        EXPECT_EQ(memory.listing, wanted) << form << "stream without a descriptor";
    }
}

}  // namespace
}  // namespace smfasm
