#include "api/convert.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "state/state.h"
#include "state/stop.h"
#include "tests/support/midi_bytes.h"

namespace smfasm {
namespace {

using namespace test;

const bytes song = header(1, 1, 96) + track(meta(0, 0x03, text_bytes("Demo")) + bytes{0x00, 0x90, 60, 64} +
                                            bytes{0x60, 60, 0} + end_of_track());
const bytes cut_song(song.begin(), song.end() - 5);

std::string read_all(std::FILE* stream) {
    std::string text;
    std::rewind(stream);
    for (int c; (c = std::fgetc(stream)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
}

TEST(Face, StreamAndMemoryListTheSame) {
    const lister_options flag_sets[] = {{}, {12, 1, 1, 0, true}, {.fold_width = 1}};
    for (const bytes* each : {&song, &cut_song}) {
        const bytes& file = *each;
        for (const lister_options& options : flag_sets) {
            const listing_result memory = list_bytes(file.data(), file.size(), options);
            std::FILE* input = std::tmpfile();
            std::fwrite(file.data(), 1, file.size(), input);
            std::rewind(input);
            std::FILE* output = std::tmpfile();
            std::FILE* messages = std::tmpfile();
            const stream_listing streamed = list_stream(input, "song.mid", output, messages, options);
            EXPECT_EQ(read_all(output), memory.text);
            EXPECT_EQ(read_all(messages), memory.messages);
            EXPECT_EQ(streamed.status, memory.status);
            EXPECT_EQ(streamed.write_error, 0);
            EXPECT_EQ(memory.status, each == &cut_song ? 1 : 0);
            for (std::FILE* f : {input, output, messages}) std::fclose(f);
        }
    }
    EXPECT_EQ(list_bytes(cut_song.data(), cut_song.size(), {}).messages, "Error: premature EOF\n");
}

struct caller_stopped {
    int status;
};
[[noreturn]] void caller_handler(int status) { throw caller_stopped{status}; }

TEST(Face, PutsBackTheCallersExitPathAndStreams) {
    // A listing stopped by bad input must leave the caller's own set-up as
    // it was: its streams in the state and its stop handler in force.
    std::FILE* callers_input = std::tmpfile();
    state.input = callers_input;
    state.messages = callers_input;
    set_stop_handler(caller_handler);
    EXPECT_EQ(list_bytes(cut_song.data(), cut_song.size(), {}).status, 1);
    EXPECT_EQ(state.input, callers_input);
    EXPECT_EQ(state.messages, callers_input);
    try {
        stop_conversion(3);
    } catch (const caller_stopped& stop) {
        EXPECT_EQ(stop.status, 3);
    }
    EXPECT_EQ(set_stop_handler(nullptr), caller_handler);
    std::fclose(callers_input);
    state.input = nullptr;
    state.messages = stderr;
}

TEST(Face, AReadErrorNeverGivesAFile) {
    const int directory = open("/", O_RDONLY | O_CLOEXEC);
    listing_reader reader(directory);
    const assembly_result result = assemble_listing(reader, {}, "song.mtx");
    close(directory);
    EXPECT_EQ(result.errors, 1);
    EXPECT_TRUE(result.bytes.empty());
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0].text, "error reading the listing: Is a directory");
    EXPECT_EQ(result.text, "song.mtx: error reading the listing: Is a directory\n");
}

TEST(Face, AssemblesInMemoryWithMessagesAsData) {
    const std::string listing = list_bytes(song.data(), song.size(), {}).text;
    struct text_case {
        const char* name;
        std::string text;
        int errors;
        std::vector<std::pair<long long, long long>> at;  // line and column of each message
    };
    const text_case cases[] = {
        {"the listing", listing, 0, {}},
        {"its last line without a line end", listing.substr(0, listing.size() - 1), 0, {}},
        {"a bad value and a bad keyword",
         "MFile 1 1 96\nMTrk\n0 On ch=1 n=600 v=1\n0 Bogus\nTrkEnd\n",
         2,
         {{3, 13}, {4, 3}, {5, 1}}},
        {"a track count that does not match", "MFile 1 2 96\nMTrk\n0 Meta TrkEnd\nTrkEnd\n", 0, {{1, 9}}},
    };
    for (const text_case& c : cases) {
        const assembly_result copied = assemble_text(c.text, {}, "song.mtx");
        std::FILE* file = std::tmpfile();
        std::fputs(c.text.c_str(), file);
        std::fflush(file);
        std::rewind(file);
        listing_reader from_file(fileno(file));
        const assembly_result streamed = assemble_listing(from_file, {}, "song.mtx");
        std::fclose(file);
        for (const assembly_result* r : {&copied, &streamed}) {
            EXPECT_EQ(r->errors, c.errors) << c.name << r->text;
            EXPECT_EQ(r->bytes.empty(), c.errors != 0) << c.name;
            ASSERT_EQ(r->messages.size(), c.at.size()) << c.name;
            for (std::size_t i = 0; i < c.at.size(); ++i) {
                EXPECT_EQ(std::make_pair(r->messages[i].line, r->messages[i].column), c.at[i]) << c.name;
                EXPECT_NE(r->text.find(r->messages[i].text), std::string::npos) << c.name;
            }
        }
        EXPECT_EQ(copied.bytes, streamed.bytes) << c.name;
        EXPECT_EQ(copied.text, streamed.text) << c.name;
        if (c.errors == 0 && c.at.empty()) {
            EXPECT_EQ(copied.bytes, song) << c.name;
        }
    }
}

// Where the lister's measure column wraps in 32 bits (a track past tick
// 2^31, times before the last metre change, a measure count that wraps), its
// listing still assembles to the same file without a word under --strict.
TEST(Face, WrappedMeasureTimesOfTheListerAssembleSilently) {
    bytes far;  // ten steps of the largest delta: past 2^31
    for (int i = 0; i < 10; ++i)
        far += i == 0 ? bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xD0, 0x01} : bytes{0xFF, 0xFF, 0xFF, 0x7F, 0x01};
    bytes many_metres;  // 1/4 at division 1: a measure a tick
    for (int i = 0; i < 20; ++i) many_metres += meta(0x0FFFFFFF, 0x58, {1, 2, 24, 8});
    const bytes files[] = {
        header(0, 1, 96) + track(far + end_of_track()),
        header(1, 2, 96) + track(meta(0x0FFFFFFF, 0x58, {3, 2, 24, 8}) + end_of_track()) +
            track(bytes{0x05, 0xD0, 0x01} + meta(7, 0x58, {5, 3, 24, 8}) + bytes{0x00, 0xD0, 0x01} + end_of_track()),
        header(1, 2, 1) + track(many_metres + end_of_track()) + track(bytes{0x05, 0xD0, 0x01} + end_of_track()),
    };
    assembly_options strict;
    strict.strict = true;
    for (const bytes& file : files) {
        lister_options measures;
        measures.measure_mode = 1;
        const listing_result listed = list_bytes(file.data(), file.size(), measures);
        ASSERT_EQ(listed.status, 0) << listed.messages;
        const assembly_result back = assemble_text(listed.text, strict, "w.mtx");
        EXPECT_EQ(back.text, "") << listed.text;
        EXPECT_EQ(back.bytes, file) << listed.text;
    }
}

}  // namespace
}  // namespace smfasm

namespace smfasm {
namespace {

// What a file that is no MIDI file looks like, said by its first bytes.
TEST(Face, SaysWhatAFileThatIsNoMidiFileIs) {
    struct row {
        std::string bytes;
        std::string said;
    };
    const std::vector<row> rows = {
        {"", "not a MIDI file: it is empty"},
        {"MTh", "not a MIDI file: it ends after 3 of the 4 bytes of a header's tag"},
        {std::string("RIFF\x24\x08\0\0WAVE", 12),
         "not a MIDI file: it starts with \"RIFF\", as WAV audio and other RIFF "
         "files do"},
        {"MFile 0 1 96\nMTrk\n", "not a MIDI file: it is a listing (smfasm assembles it)"},
        {"\x1f\x8b\x08\x00", "not a MIDI file: it is gzip-compressed (gunzip it first)"},
        {"hello\nthere", "not a MIDI file: it is text, starting \"hello\""},
        {std::string("\x00\x01\xff\x10", 4),
         "not a MIDI file: it starts with the bytes 00 01 ff 10, where a MIDI file "
         "starts with \"MThd\""},
    };
    for (const row& r : rows) {
        const auto* data = reinterpret_cast<const unsigned char*>(r.bytes.data());
        EXPECT_EQ(describe_not_midi(data, r.bytes.size()), r.said);
        // The face says it for a file listed from memory, and keeps the
        // lister's own words apart; a MIDI file says nothing of the kind.
        const listing_result listed = list_bytes(data, r.bytes.size(), {});
        EXPECT_EQ(listed.not_midi, r.said) << r.bytes;
        // Listed as nothing (empty, or cut inside the tag), as smfdis lists
        // them; anything else stops at its first byte.
        const bool nothing = r.bytes.empty() || r.bytes == "MTh";
        EXPECT_EQ(listed.status, nothing ? 0 : 1) << r.said;
    }
    const bytes demo = header(0, 1, 96) + track(end_of_track());
    EXPECT_EQ(list_bytes(demo.data(), demo.size(), {}).not_midi, "");
}

// With no handler installed, a stopped conversion ends the process with
// its status: nothing in the cores may wait for a prompt it did not ask for.
TEST(FaceDeathTest, AStopWithNoHandlerEndsTheProcessWithItsStatus) {
    EXPECT_EXIT(
        {
            set_stop_handler(nullptr);
            stop_conversion(5);
        },
        ::testing::ExitedWithCode(5), "");
}

}  // namespace
}  // namespace smfasm
