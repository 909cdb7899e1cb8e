// The lister's core run in-process, one stream after another, as smfcat
// runs it: each run starts afresh, whatever the one before it met.
#include "api/convert.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "api/memory_stream.h"
#include "tests/support/midi_bytes.h"

namespace smfasm::test {
namespace {

std::FILE* input_of(const bytes& data) {
    std::FILE* file = std::tmpfile();
    // An empty vector's data() may be null, which fwrite must not be given.
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), file);
    std::rewind(file);
    return file;
}

TEST(ListStream, EachRunStartsAfresh) {
    const bytes notes = track(bytes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00} + end_of_track());
    const std::string listing = "MTrk\n0 On ch=1 n=60 v=64\n96 On ch=1 n=60 v=0\n96 Meta TrkEnd\nTrkEnd\n";
    struct row {
        bytes input;
        std::string out;
        std::string messages;
        int status;
        int announced, found, partial_tag;
    };
    const row rows[] = {
        {header(0, 1, 96) + bytes(notes.begin(), notes.end() - 3),
         "MFile 0 1 96\nMTrk\n0 On ch=1 n=60 v=64\n96 On ch=1 n=60 v=0\n", "Error: premature EOF\n", 1, 0, 0, 0},
        {header(0, 1, 96) + notes, "MFile 0 1 96\n" + listing, "", 0, 1, 1, 0},
        {header(1, 3, 96) + notes + text_bytes("MTr"), "MFile 1 3 96\n" + listing, "", 0, 3, 1, 3},
        {{}, "", "", 0, 0, 0, 0},
    };
    const lister_options options;
    for (const row& r : rows) {
        memory_stream out;
        memory_stream messages;
        std::FILE* input = input_of(r.input);
        testing::internal::CaptureStderr();
        const stream_listing done = list_stream(input, "in.mid", out.stream(), messages.stream(), options);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        std::fclose(input);
        EXPECT_EQ(out.take(), r.out);
        EXPECT_EQ(messages.take(), r.messages);
        EXPECT_EQ(done.status, r.status);
        EXPECT_EQ(done.write_error, 0);
        if (r.status != 0) continue;
        EXPECT_EQ(done.tracks_announced, r.announced);
        EXPECT_EQ(done.tracks_found, r.found);
        EXPECT_EQ(done.partial_tag_length, r.partial_tag);
    }
}

// Meta events whose lines would give other bytes back are counted, the
// first described; the listing itself stays as smfdis writes it.
TEST(ListStream, NotesMetaEventsTheListingCannotGiveBack) {
    struct row {
        int type;
        bytes payload;
        int length_expected;  // -1: the event lists exactly
        int value = -1;
    };
    const row rows[] = {
        {0x00, {0, 1}, -1},
        {0x00, {}, 2},
        {0x00, {1}, 2},
        {0x00, {0, 1, 2}, 2},
        {0x2F, {1}, 0},
        {0x51, {7, 0xA1}, 3},
        {0x51, {7, 0xA1, 0x20}, -1},
        {0x54, {1, 2, 3, 4}, 5},
        {0x54, {1, 2, 3, 4, 5, 6}, 5},
        {0x54, {1, 2, 3, 4, 5}, -1},
        {0x58, {4, 2, 24}, 4},
        {0x58, {4, 2, 24, 8, 0}, 4},
        {0x58, {4, 32, 24, 8}, -1},
        {0x58, {4, 33, 24, 8}, 4, 33},
        {0x59, {0}, 2},
        {0x59, {0, 1, 0}, 2},
        {0x59, {0xFD, 1}, -1},
        {0x59, {0, 2}, 2, 2},
        {0x59, {0, 255}, 2, 255},
        {0x01, {}, -1},
        {0x7F, {1}, -1},
    };
    for (const row& r : rows) {
        // Two of each, the first in the second track at tick 5.
        const bytes file = header(1, 2, 96) + track(end_of_track()) +
                           track(meta(5, r.type, r.payload) + meta(0, r.type, r.payload) + end_of_track());
        std::FILE* input = input_of(file);
        memory_stream out;
        const stream_listing done = list_stream(input, "in.mid", out.stream(), out.stream(), {});
        std::fclose(input);
        const inexact_meta_t& seen = done.inexact;
        SCOPED_TRACE(r.type);
        SCOPED_TRACE(r.payload.size());
        if (r.length_expected < 0) {
            EXPECT_EQ(seen.count, 0);
            continue;
        }
        EXPECT_EQ(seen.count, 2);
        EXPECT_EQ(seen.track, 2);
        EXPECT_EQ(seen.time, 5);
        EXPECT_EQ(seen.type, r.type);
        EXPECT_EQ(seen.length, static_cast<int>(r.payload.size()));
        EXPECT_EQ(seen.expected, r.length_expected);
        EXPECT_EQ(seen.value, r.value);
    }
}

ssize_t refuse_write(void*, const char*, std::size_t) {
    errno = ENOSPC;
    return 0;
}

TEST(ListStream, ReportsAFailedWrite) {
    std::FILE* full = fopencookie(nullptr, "w", {nullptr, refuse_write, nullptr, nullptr});
    std::FILE* input = input_of(header(0, 1, 96) + track(end_of_track()));
    memory_stream messages;
    const stream_listing done = list_stream(input, "in.mid", full, messages.stream(), {});
    std::fclose(input);
    std::fclose(full);
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.write_error, ENOSPC);
}

}  // namespace
}  // namespace smfasm::test
