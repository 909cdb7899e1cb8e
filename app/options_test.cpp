#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/driver.h"
#include "app/files.h"
#include "app/options.h"

namespace smfasm {
namespace {

struct scan_result {
    std::vector<int> returns;  // every result up to and including the final 0 or -1
    int word_index;
    std::string messages;
    std::vector<std::string> arguments;  // option_argument after each F or f
};

scan_result scan(std::vector<std::string> words, int quiet = 0) {
    words.insert(words.begin(), "smfdis");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    option_scanner scanner;
    scan_result result;
    testing::internal::CaptureStderr();
    for (;;) {
        const int r = scan_option(scanner, static_cast<int>(argv.size()), argv.data(), option_spec, quiet);
        result.returns.push_back(r);
        if (r == 'F' || r == 'f') result.arguments.emplace_back(scanner.option_argument);
        if (r <= 0) break;
    }
    result.messages = testing::internal::GetCapturedStderr();
    result.word_index = scanner.option_word_index;
    return result;
}

TEST(ScanOption, Words) {
    struct row {
        std::vector<std::string> words;
        std::vector<int> returns;
        int word_index;
        std::string messages;
    };
    const std::vector<row> rows = {
        {{}, {0}, 1, ""},
        {{"song.mid"}, {0}, 1, ""},
        {{"-bn", "song.mid"}, {'b', 'n', 0}, 2, ""},
        {{"-b", "-N", "-tT", "x"}, {'b', 'N', 't', 'T', 0}, 4, ""},
        {{"-vVmM"}, {'v', 'V', 'm', 'M', 0}, 2, ""},
        {{"-bf72", "s"}, {'b', 'f', 0}, 2, ""},
        {{"-", "-n", "s"}, {'n', 0}, 3, ""},
        {{"-x"}, {-1}, 1, "smfdis: no such flag: x\n"},
        {{"-bxz"}, {'b', -1}, 1, "smfdis: no such flag: xz\n"},
        {{"--"}, {-1}, 1, "smfdis: no such flag: -\n"},
        {{"-|"}, {'|', 0}, 2, ""},
        {{"-|n"}, {'|', 'n', 0}, 2, ""},
        {{"song.mid", "-v"}, {0}, 1, ""},
    };
    for (const row& r : rows) {
        const scan_result result = scan(r.words);
        EXPECT_EQ(result.returns, r.returns) << testing::PrintToString(r.words);
        EXPECT_EQ(result.word_index, r.word_index) << testing::PrintToString(r.words);
        EXPECT_EQ(result.messages, r.messages) << testing::PrintToString(r.words);
    }
}

TEST(ScanOption, ArgumentsAndQuietMode) {
    EXPECT_EQ(scan({"-f60", "-f", "-F", "60"}).arguments, (std::vector<std::string>{"60", "", ""}));
    // -f with a separate word: the width is the default and the word a file.
    EXPECT_EQ(scan({"-f", "60"}).word_index, 2);
    const scan_result quiet = scan({"-bxn", "-n", "s"}, 1);
    EXPECT_EQ(quiet.returns, (std::vector<int>{'b', 'n', 0}));
    EXPECT_EQ(quiet.messages, "");
}

TEST(ParseWidth, LikeTheCLibrary) {
    const std::vector<std::pair<const char*, int>> rows = {{"60", 60},
                                                           {"0", 0},
                                                           {"x", 0},
                                                           {"", 0},
                                                           {"  -14", -14},
                                                           {"+20", 20},
                                                           {"72abc", 72},
                                                           {"- 5", 0},
                                                           {"\t7", 7},
                                                           {"2147483647", 2147483647},
                                                           {"2147483648", -2147483647 - 1},
                                                           {"4294967297", 1},
                                                           {"-2147483648", -2147483647 - 1}};
    for (const auto& [text, width] : rows) EXPECT_EQ(parse_width(text), width) << text;
}

TEST(OutputName, FromTheLastDotOfTheWholeName) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"song.mid", "song.mtx"}, {"song", "song.mtx"},     {"dir.old/song", "dir.mtx"},      {"a.b.mid", "a.b.mtx"},
        {".mid", ".mtx"},         {"song.mtx", "song.mtx"}, {"dir/song.MID", "dir/song.mtx"}, {"song.", "song.mtx"}};
    for (const auto& [input, output] : rows) EXPECT_EQ(derive_output_name(input), output) << input;
    EXPECT_EQ(last_dot("abc"), 3u);
    EXPECT_EQ(last_dot("a.b.c"), 3u);
}

}  // namespace
}  // namespace smfasm
