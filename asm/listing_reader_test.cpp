#include "asm/listing_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

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

        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
        std::fflush(file);
        ASSERT_EQ(lseek(fileno(file), 0, SEEK_SET), 0);
        listing_reader from_file(fileno(file));
        EXPECT_EQ(lines_of(from_file), expected) << before;
        std::fclose(file);
    }
}

}  // namespace
}  // namespace smfasm
