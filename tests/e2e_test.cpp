#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/midi_bytes.h"
#include "tests/support/run_tool.h"

namespace smfasm::test {
namespace {

namespace fs = std::filesystem;

const std::string demo_listing =
    "MFile 0 1 96\nMTrk\n0 Meta SeqName \"Demo\"\n0 Tempo 500000\n0 TimeSig 4/4 24 8\n"
    "0 On ch=1 n=60 v=64\n96 On ch=1 n=60 v=0\n96 Meta TrkEnd\nTrkEnd\n";

const std::string demo_listing_bnv =
    "MFile 0 1 96\nMTrk\n0:0:0 Meta SeqName \"Demo\"\n0:0:0 Tempo 500000\n0:0:0 TimeSig 4/4 24 8\n"
    "0:0:0 On ch=1 note=c5 vol=64\n0:1:0 On ch=1 note=c5 vol=0\n0:1:0 Meta TrkEnd\nTrkEnd\n";

bytes demo_file() {
    std::ifstream in(std::string(SMFASM_SOURCE_DIR) + "/examples/demo.mid", std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

std::string written(const std::string& name, std::size_t count) {
    return "Writing output to " + name + " ...  " + std::to_string(count) + " bytes written.\n" + prompt;
}

TEST(EndToEnd, DemoFile) {
    scratch_dir dir;
    dir.write("demo.mid", demo_file());
    tool_run run = dir.run({"demo.mid"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, written("demo.mtx", demo_listing.size()));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.read("demo.mtx"), demo_listing);
    // The listing shipped beside the sample, which the package check uses.
    std::ifstream shipped(std::string(SMFASM_SOURCE_DIR) + "/examples/demo.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(shipped), {}), demo_listing);

    run = dir.run({"-bnv", "demo.mid", "bnv.mtx"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("bnv.mtx"), demo_listing_bnv);
    // Separate and repeated flags count the same.
    run = dir.run({"-b", "-n", "-v", "-bb", "demo.mid", "separate.mtx"});
    EXPECT_EQ(dir.read("separate.mtx"), demo_listing_bnv);
}

TEST(EndToEnd, CommandLineErrors) {
    scratch_dir dir;
    struct row {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<row> rows = {
        {{}, "***Error: No input file specified.\n" + prompt},
        {{"-bn"}, "***Error: No input file specified.\n" + prompt},
        {{"-x", "song.mid"}, "smfdis: no such flag: x\n" + prompt},
        {{"-bxz", "song.mid"}, "smfdis: no such flag: xz\n" + prompt},
        {{"--", "song.mid"}, "smfdis: no such flag: -\n" + prompt},
        {{"missing.mid"}, "***Error: Cannot open 'missing.mid'!\nNo such file or directory" + prompt},
    };
    for (const row& r : rows) {
        const tool_run run = dir.run(r.args);
        EXPECT_EQ(run.status, 1) << testing::PrintToString(r.args);
        EXPECT_EQ(run.err, r.err) << testing::PrintToString(r.args);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(EndToEnd, OutputNames) {
    scratch_dir dir;
    dir.write("song.mid", demo_file());
    fs::create_directory(dir / "dir.old");
    dir.write("dir.old/song", demo_file());
    // The word after the input is the output name even when it looks like a flag.
    EXPECT_EQ(dir.run({"song.mid", "-v", "ignored"}).status, 0);
    EXPECT_EQ(dir.read("-v"), demo_listing);
    EXPECT_FALSE(dir.exists("ignored"));
    EXPECT_EQ(dir.run({"dir.old/song"}).err, written("dir.mtx", demo_listing.size()));
    EXPECT_EQ(dir.read("dir.mtx"), demo_listing);
    // -f followed by a separate word takes that word as the input name.
    EXPECT_EQ(dir.run({"-f", "song.mid", "f.mtx"}).status, 0);
    EXPECT_EQ(dir.read("f.mtx"), demo_listing);
}

TEST(EndToEnd, BackupChain) {
    scratch_dir dir;
    dir.write("song.mid", demo_file());
    dir.write("song.mtx", std::string("first"));
    tool_run run = dir.run({"song.mid"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Notice: Output file song.mtx already exits.\n\tIt is renamed as song$.mtx\n" +
                           written("song.mtx", demo_listing.size()));
    EXPECT_EQ(dir.read("song$.mtx"), "first");
    EXPECT_EQ(dir.read("song.mtx"), demo_listing);

    run = dir.run({"song.mid"});
    EXPECT_EQ(run.err.substr(0, run.err.find("Writing")),
              "Notice: Output file song.mtx already exits.\n\tIt is renamed as song$$.mtx\n");
    EXPECT_EQ(dir.read("song$.mtx"), "first");
    EXPECT_EQ(dir.read("song$$.mtx"), demo_listing);

    // Names without an extension, or with another, share the stem rule.
    dir.write("out", std::string("a"));
    dir.write("out.txt", std::string("b"));
    EXPECT_EQ(dir.run({"song.mid", "out"}).status, 0);
    EXPECT_EQ(dir.read("out$.mtx"), "a");
    EXPECT_EQ(dir.run({"song.mid", "out.txt"}).status, 0);
    EXPECT_EQ(dir.read("out$$.mtx"), "b");
}

TEST(EndToEnd, BackupNeverDisturbsOtherEntries) {
    scratch_dir dir;
    dir.write("song.mid", demo_file());
    dir.write("song.mtx", std::string("old"));
    // A FIFO where a backup would go is taken, not opened (which would block).
    ASSERT_EQ(mkfifo((dir / "song$.mtx").c_str(), 0600), 0);
    tool_run run = dir.run({"song.mid"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("song$$.mtx"), "old");
    EXPECT_TRUE(fs::is_fifo(dir / "song$.mtx"));

    // A directory in the output's place is not moved aside.
    fs::create_directory(dir / "out.mtx");
    run = dir.run({"song.mid", "out.mtx"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "***Error: Can't open outputfile out.mtx\nIs a directory\n" + prompt);
    EXPECT_TRUE(fs::is_directory(dir / "out.mtx"));
    EXPECT_FALSE(dir.exists("out$.mtx"));
}

TEST(EndToEnd, InputNamedLikeItsListing) {
    scratch_dir dir;
    dir.write("song.mtx", demo_file());
    const tool_run run = dir.run({"song.mtx"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("song$.mtx"),
              std::string(reinterpret_cast<const char*>(demo_file().data()), demo_file().size()));
    EXPECT_EQ(dir.read("song.mtx"), demo_listing);
}

TEST(EndToEnd, FailuresKeepThePartialListing) {
    scratch_dir dir;
    const bytes demo = demo_file();
    dir.write("cut.mid", bytes(demo.begin(), demo.end() - 5));
    tool_run run = dir.run({"cut.mid"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Writing output to cut.mtx ...  Error: premature EOF\n" + prompt);
    EXPECT_EQ(dir.read("cut.mtx"), demo_listing.substr(0, demo_listing.find("96 On")));

    dir.write("fmt3.mid", header(3, 1, 96));
    run = dir.run({"fmt3.mid"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Writing output to fmt3.mtx ...  Can't deal with format 3 files\n" + prompt);
    EXPECT_EQ(dir.read("fmt3.mtx"), "MFile 3 1 96\n");

    dir.write("tail.mid", demo + text_bytes("junk"));
    run = dir.run({"tail.mid"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Writing output to tail.mtx ...  Error: Garbage at end\n" + prompt);
    EXPECT_EQ(dir.read("tail.mtx"), demo_listing);
}

TEST(EndToEnd, ReadErrorIsNotTheEndOfTheFile) {
    scratch_dir dir;
    fs::create_directory(dir / "folder");
    const tool_run run = dir.run({"folder", "out.mtx"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Writing output to out.mtx ...  ***Error while reading input file folder\nIs a directory\n" + prompt);
    EXPECT_EQ(dir.read("out.mtx"), "");
}

TEST(EndToEnd, EmptyInput) {
    scratch_dir dir;
    dir.write("empty.mid", bytes{});
    const tool_run run = dir.run({"empty.mid"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, written("empty.mtx", 0));
    EXPECT_EQ(dir.read("empty.mtx"), "");
}

TEST(EndToEnd, FlagsThatShapeTheListing) {
    scratch_dir dir;
    // A long text and a long dump fold at the chosen width.
    bytes sysex{0xF0};
    for (int i = 0; i < 40; ++i) sysex.push_back(static_cast<unsigned char>(i));
    sysex.push_back(0xF7);
    const bytes body = meta(0, 1, text_bytes(std::string(100, 'a'))) + bytes{0x00, 0xF0} +
                       vlq(static_cast<std::uint32_t>(sysex.size() - 1)) + bytes(sysex.begin() + 1, sysex.end()) +
                       bytes{0x00, 0xF0, 0x01, 0x43, 0x00, 0xF7, 0x01, 0xF7};
    dir.write("long.mid", header(0, 1, 96) + track(body));
    const auto listing = [&](std::vector<std::string> flags) {
        flags.push_back("long.mid");
        flags.push_back("out.mtx");
        fs::remove(dir / "out.mtx");
        EXPECT_EQ(dir.run(flags).status, 0);
        return dir.read("out.mtx");
    };
    const std::string plain = listing({});
    EXPECT_EQ(plain.find("\\\n"), std::string::npos);
    EXPECT_EQ(listing({"-f"}), listing({"-f80"}));
    EXPECT_EQ(listing({"-F0"}), plain);
    EXPECT_EQ(listing({"-fx"}), plain);
    EXPECT_EQ(listing({"-f60", "-f"}), listing({"-f80"}));
    const std::string folded = listing({"-bf72"});
    EXPECT_NE(folded.find("0:0:0 Meta Text \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\\\n\taaaa"),
              std::string::npos);
    EXPECT_NE(plain.find("0 SysEx f0 43 f7\n"), std::string::npos);
    const std::string split = listing({"-m"});
    EXPECT_NE(split.find("0 SysEx f0 43\n0 Arb f7\n"), std::string::npos);
    EXPECT_EQ(listing({"-M"}), split);
}

}  // namespace
}  // namespace smfasm::test
