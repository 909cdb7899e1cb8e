#include "asm/listing_reader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/listing_file.h"

namespace smfasm {
namespace {

struct read_line {
    std::string text;
    std::int64_t number;
    broken_fold fold;
    bool operator==(const read_line&) const = default;
};

std::vector<read_line> lines_of(listing_reader& reader) {
    std::vector<read_line> lines;
    for (listing_line line; reader.next(line);)
        lines.push_back({std::string(line.begin, line.end), line.number, line.fold});
    return lines;
}

// The same listing read from memory and, in blocks, from a file gives the
// same lines, wherever a block ends: folds, comments and line ends that
// straddle a block's end included.
TEST(ListingReader, BlocksNeverChangeTheLines) {
    constexpr std::size_t block = std::size_t{256} * 1024;
    const std::string tail = "0 SysEx f0\\\n\t01\\\n\t02\n  # comment \\\n0 Next\nx \\\ny\r\n0 Last \\\n";
    for (std::size_t before = block - 14; before <= block + 2; ++before) {
        const std::string text = std::string(before, 'a') + "\n" + tail;
        listing_reader in_memory(text.data(), text.size());
        const std::vector<read_line> expected = lines_of(in_memory);
        ASSERT_EQ(expected.size(), 7U);
        EXPECT_EQ(expected[1], (read_line{"0 SysEx f0\\\n\t01\\\n\t02", 2, broken_fold::none}));
        EXPECT_EQ(expected[2], (read_line{"  # comment \\", 5, broken_fold::none}));
        EXPECT_EQ(expected[4], (read_line{"x \\", 7, broken_fold::no_tab}));
        EXPECT_EQ(expected[5], (read_line{"y", 8, broken_fold::none}));
        EXPECT_EQ(expected[6], (read_line{"0 Last \\", 9, broken_fold::at_end}));

        const test::listing_file file(text);
        ASSERT_GE(file.fd(), 0);
        listing_reader from_file(file.fd());
        EXPECT_EQ(lines_of(from_file), expected) << before;
    }
}

// A UTF-8 byte order mark before the first line is no part of it, from
// memory or from a descriptor; anywhere else it is text.
TEST(ListingReader, SkipsAByteOrderMarkAtTheStart) {
    const std::string mark = "\xEF\xBB\xBF";
    for (const std::string& text : {mark + "MFile 0 1 96\n" + mark + "x\n", mark + "MFile 0 1 96\n" + mark + "x"}) {
        const std::vector<read_line> expected = {{"MFile 0 1 96", 1, broken_fold::none},
                                                 {mark + "x", 2, broken_fold::none}};
        listing_reader in_memory(text.data(), text.size());
        EXPECT_EQ(lines_of(in_memory), expected);
        // Packets keep their bounds: the mark arrives in three reads.
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
        for (const char c : text) ASSERT_EQ(write(fds[1], &c, 1), 1);
        close(fds[1]);
        listing_reader byte_by_byte(fds[0]);
        EXPECT_EQ(lines_of(byte_by_byte), expected);
        close(fds[0]);
    }
    const std::string cut = "\xEF\xBB";
    listing_reader only_part(cut.data(), cut.size());
    EXPECT_EQ(lines_of(only_part), (std::vector<read_line>{{cut, 1, broken_fold::none}}));
}

// The lines a caller may take itself never run backwards: not before the
// first line is read, nor once a last line without its end is.
TEST(ListingReader, WholeLinesNeverEndBeforeTheUnreadPart) {
    for (const std::string text : {"a\nbb\nccc", "a\nbb\n", "ccc", ""}) {
        listing_reader reader(text.data(), text.size());
        listing_line line;
        do {
            EXPECT_LE(reader.unread(), reader.whole_end()) << text;
        } while (reader.next(line));
        EXPECT_EQ(reader.unread(), reader.whole_end()) << text;
    }
}

}  // namespace
}  // namespace smfasm
