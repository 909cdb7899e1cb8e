#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "asm/assembler.h"
#include "asm/listing_reader.h"
#include "tests/support/listing_file.h"

namespace smfasm {
namespace {

// Appended part by part (GCC 12 warns wrongly about some chains of +).
template <typename... Parts>
std::string cat(const Parts&... parts) {
    std::string text;
    (text.append(std::string_view(parts)), ...);
    return text;
}

// The file, every message as data, and how many warnings were not shown.
std::string assembled(listing_reader& reader, const assembly_options& options = {}) {
    memory_sink sink;
    std::vector<assembly_message> said;
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* messages = open_memstream(&buffer, &size);
    assemble(reader, "t.mtx", options, sink, messages, &said);
    std::fclose(messages);
    const std::string shown(buffer, size);
    std::free(buffer);
    std::string out(sink.bytes.begin(), sink.bytes.end());
    for (const assembly_message& m : said) {
        out += cat("\n", std::to_string(m.line), ":", std::to_string(m.column), m.warning ? " w " : " e ", m.text);
    }
    const std::size_t more = shown.find("more warning");
    if (more != std::string::npos) out += shown.substr(shown.rfind('\n', more) + 1);
    return out;
}

// A tick listing mostly as the lister writes it, in either format set,
// with lines now and then in other spellings, that warn, or that fail.
// Each event line comes without its line end, which the caller adds.
std::vector<std::string> random_tick_lines(unsigned seed) {
    std::mt19937 random(seed);
    const auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const auto one_in = [&pick](int n) { return pick(n) == 0; };
    // Errors only now and then, so that the assembly goes on to the end.
    const bool faults = seed % 3 == 0;
    const auto fault = [&] { return faults && one_in(150); };
    const auto value = [&] {
        const char* warned[] = {"128", "255", "0127", "007"};
        const char* wrong[] = {"256", "1000", "", "x"};
        if (fault()) return std::string(wrong[pick(4)]);
        return one_in(25) ? std::string(warned[pick(4)]) : std::to_string(pick(128));
    };
    std::vector<std::string> lines = {"MFile 1 2 96", "MTrk", "0 TimeSig 3/4 24 8"};
    for (int track = 0; track < 2; ++track) {
        if (track > 0) lines.emplace_back("MTrk");
        const bool long_set = one_in(2);
        long long time = 0;
        for (int event = 0; event < 300; ++event) {
            time += one_in(50) ? 9999999 : pick(4) == 0 ? 0 : pick(one_in(10) ? 300000 : 200);
            std::string at = std::to_string(time);
            if (fault()) at = std::to_string(time - 500);  // backwards
            if (fault()) at = cat("-", at);
            if (one_in(40) && event > 0) {
                // measure:beat:tick in bars of 3/4, now and then beyond its
                // bar or beat (and so later)
                const long long beyond = one_in(5) ? 3 : 0;
                const long long over = one_in(5) ? 96 : 0;
                at = cat(std::to_string(time / 288), ":", std::to_string(time % 288 / 96 + beyond), ":",
                         std::to_string(time % 96 + over));
                time += beyond * 96 + over;
            }
            const int ch = fault() ? 17 * pick(2) : 1 + pick(16);
            const std::string channel = cat("ch=", one_in(60) ? "0" : "", std::to_string(ch));
            const bool set = long_set != one_in(30);  // now and then the other set's labels
            const std::string key = one_in(10) ? std::string(one_in(2) ? "c#4" : "Eb2") : value();
            std::string line = at + " ";
            switch (pick(9)) {
                case 0:
                case 1:
                case 2: line += cat("On ", channel, set ? " note=" : " n=", key, set ? " vol=" : " v=", value()); break;
                case 3:
                case 4:
                    line += cat("Off ", channel, set ? " note=" : " n=", key, set ? " vol=" : " v=", value());
                    break;
                case 5:
                    line += std::string(long_set ? "Param " : "Par ") + channel + (set ? " con=" : " c=") + value() +
                            (set ? " val=" : " v=") + value();
                    break;
                case 6:
                    line += "Pb " + channel + (set ? " val=" : " v=") +
                            std::to_string(one_in(10) ? 16380 + pick(8) : pick(16384));
                    break;
                case 7:
                    line += std::string(long_set ? "ProgCh " : "PrCh ") + channel + (set ? " prog=" : " p=") + value();
                    break;
                default:
                    line += one_in(3) ? std::string(long_set ? "PolyPr " : "PoPr ") + channel + " n=3 v=" + value()
                            : fault() ? "Note " + channel + " n=3 v=4 len=5"
                                      : std::string(long_set ? "ChanPr " : "ChPr ") + channel + " v=" + value();
                    break;
            }
            if (one_in(100)) line += " ";
            lines.push_back(line);
        }
        lines.push_back(std::to_string(time) + " Meta TrkEnd");
        lines.emplace_back("TrkEnd");
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines, const std::string& behind_events, const char* end) {
    std::string text;
    for (const std::string& line : lines) {
        const bool event = line[0] == '-' || (line[0] >= '0' && line[0] <= '9');
        text += line + (event ? behind_events : "") + end;
    }
    return text;
}

// The quick reader takes a line only when the general reader would make
// the same bytes and say nothing: a comment behind every event line keeps
// the quick reader away and must change nothing, with either line end and
// with running status or without.
TEST(QuickLines, ReadAsTheGeneralReaderReadsThem) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        const std::vector<std::string> lines = random_tick_lines(seed);
        for (const char* end : {"\n", "\r\n"}) {
            const std::string quick = joined(lines, "", end);
            const std::string general = joined(lines, " #q", end);
            assembly_options options;
            options.running_status = seed % 2 == 0;
            listing_reader quickly(quick.data(), quick.size());
            listing_reader generally(general.data(), general.size());
            EXPECT_EQ(assembled(quickly, options), assembled(generally, options)) << quick;
        }
    }
}

// The same for the score form, where Note lines leave their ends to be
// written between later lines: ends with marks of place or status, ends
// that share ticks, and steps too long for a delta time.
TEST(QuickLines, ScoreLinesAndTheirEndsAsTheGeneralReaderReadsThem) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        const char* habits[] = {"", " end=on", " order=last running=all", " end=64 running=On,Off carry=1"};
        std::vector<std::string> lines = {"MFile 1 1 96 score", cat("MTrk", habits[seed % 4])};
        long long time = 0;
        for (int event = 0; event < 400; ++event) {
            time += pick(3) == 0 ? 0 : pick(pick(8) == 0 ? 5000 : 50);
            std::string line = pick(4) == 0 ? cat(std::to_string(time / 384 + 1), ":",
                                                  std::to_string(time % 384 / 96 + 1), ":", std::to_string(time % 96))
                                            : std::to_string(time);
            const std::string channel = cat(" ch=", std::to_string(1 + pick(3)), " n=", std::to_string(pick(40)));
            const char* lengths[] = {"1/8", "1/4.", "1/16t", "0", "7", "300"};
            switch (pick(6)) {
                case 0: line += cat(" On", channel, " v=", std::to_string(pick(3))); break;
                case 1: line += cat(" Off", channel, " v=9"); break;
                case 2: line += " Par ch=1 c=7 v=100"; break;
                default:
                    line += cat(" Note", channel, " v=", std::to_string(1 + pick(127)),
                                " len=", pick(200) == 0 ? "300000000" : lengths[pick(6)]);
                    if (pick(4) == 0) line += pick(2) == 0 ? " end=on" : cat(" end=", std::to_string(pick(128)));
                    if (pick(8) == 0) line += cat(" endpos=", std::to_string(1 + pick(3)));
                    if (pick(10) == 0) line += cat(" endstatus=", std::to_string(pick(2)));
                    break;
            }
            lines.push_back(line);
        }
        lines.push_back(std::to_string(time + 400) + " Meta TrkEnd");
        lines.emplace_back("TrkEnd");
        const std::string quick = joined(lines, "", "\n");
        const std::string general = joined(lines, " #q", "\n");
        listing_reader quickly(quick.data(), quick.size());
        listing_reader generally(general.data(), general.size());
        EXPECT_EQ(assembled(quickly), assembled(generally)) << quick;
    }
}

// Read from a descriptor in blocks, runs of lines stop at every block's
// end and go on in the next: a listing far longer than a block assembles
// as it does from memory.
TEST(QuickLines, BlocksChangeNothing) {
    std::string text = "MFile 0 1 96\nMTrk\n";
    for (int i = 0; text.size() < std::size_t{700} * 1024; ++i) {
        text += std::to_string(i) + (i % 3 == 0 ? " Off ch=1 n=" : " On ch=1 n=") + std::to_string(i % 128) +
                " v=" + std::to_string(i % 100 + 1) + (i % 1000 == 0 ? " # a comment\n" : "\n");
    }
    text += "999999 Meta TrkEnd\nTrkEnd\n";
    listing_reader in_memory(text.data(), text.size());
    const std::string expected = assembled(in_memory);
    const test::listing_file file(text);
    ASSERT_GE(file.fd(), 0);
    listing_reader from_file(file.fd());
    EXPECT_EQ(assembled(from_file), expected);
}

}  // namespace
}  // namespace smfasm
