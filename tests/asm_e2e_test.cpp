// smfasm end to end: the real binary on real files in a temporary directory.
#include <gtest/gtest.h>

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

run_options assembler(std::string input = "/dev/null") {
    run_options options;
    options.binary = SMFASM_BINARY;
    options.name = "smfasm";
    options.input = std::move(input);
    return options;
}

std::string demo_midi() {
    std::ifstream in(std::string(SMFASM_SOURCE_DIR) + "/examples/demo.mid", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string demo_listing() {
    std::ifstream in(std::string(SMFASM_SOURCE_DIR) + "/examples/demo.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every bad line is named with its line and column, the run ends with
// status 1, and nothing is written or touched.
TEST(Assembler, BadListingsWriteNothing) {
    struct row {
        std::string listing;
        std::string message;  // the first message line
    };
    const std::string head = "MFile 0 1 96\nMTrk\n";
    const std::vector<row> rows = {
        {head + "0 Foo ch=1\nTrkEnd\n", "bad.mtx:3:3: unknown keyword \"Foo\""},
        {head + "0 Tempo abc\nTrkEnd\n", "bad.mtx:3:9: expected a number for the tempo"},
        {head + "0 Tempo 16777216\nTrkEnd\n", "bad.mtx:3:9: the tempo 16777216 is out of range (0 to 16777215)"},
        {head + "0 On ch=0 n=60 v=1\nTrkEnd\n", "bad.mtx:3:9: the channel 0 is out of range (1 to 16)"},
        {head + "0 Off ch=17 n=60 v=1\nTrkEnd\n", "bad.mtx:3:10: the channel 17 is out of range (1 to 16)"},
        {head + "0 On ch=1 n=60 v=256\nTrkEnd\n", "bad.mtx:3:18: the value 256 is out of range (0 to 255)"},
        {head + "0 SysEx 43 12 f7\nTrkEnd\n", "bad.mtx:3:9: a SysEx line must start with f0"},
        {head + "0 Meta Text \"abc\nTrkEnd\n", "bad.mtx:3:13: unterminated quote"},
        {head + "0 Meta Text \"a\\q\"\nTrkEnd\n", "bad.mtx:3:15: bad escape: \\q"},
        {head + "0 SysEx f0 4g\nTrkEnd\n", "bad.mtx:3:12: bad hex byte: \"4g\""},
        {head + "0 TimeSig 4/3 24 8\nTrkEnd\n", "bad.mtx:3:13: the TimeSig denominator 3 is not a power of two"},
        {"MFile 0 1 -25 40\nMTrk\n0:0:0 ChPr ch=1 v=0\nTrkEnd\n",
         "bad.mtx:3:1: a measure time needs a metre, and SMPTE time has none: write the time in ticks"},
        {head + "10 ChPr ch=1 v=0\n5 ChPr ch=1 v=0\nTrkEnd\n",
         "bad.mtx:4:1: time goes backwards: tick 5 after tick 10"},
        {head + "TrkEnd\n0 ChPr ch=1 v=0\n", "bad.mtx:4:1: an event outside MTrk ... TrkEnd"},
        {"MTrk\nTrkEnd\n", "bad.mtx:1:1: MTrk before the MFile line"},
        {head + "TrkEnd\nMFile 0 1 96\n", "bad.mtx:4:1: a second MFile (the first is on line 1)"},
        {head + "0 SysEx f0\\\n", "bad.mtx:3:11: the listing ends inside a folded line"},
        {head + "0 SysEx\\\n\tf0 7e\\\n\t7g\nTrkEnd\n", "bad.mtx:5:2: bad hex byte: \"7g\""},
        {head, "bad.mtx:3:1: the listing ends inside the track begun on line 2 (TrkEnd missing)"},
    };
    for (const row& r : rows) {
        scratch_dir dir;
        dir.write("bad.mtx", r.listing);
        dir.write("bad.mid", std::string("an earlier file"));
        const tool_run run = dir.run({"bad.mtx"}, assembler());
        EXPECT_EQ(run.status, 1) << r.listing;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), r.message) << run.err;
        EXPECT_TRUE(run.err.ends_with("; no MIDI file written\n")) << run.err;
        EXPECT_EQ(dir.read("bad.mid"), "an earlier file");
        EXPECT_EQ(names_in(dir), (std::vector<std::string>{"bad.mid", "bad.mtx"})) << r.listing;
    }
    // The offending line and a caret under the column follow the message.
    scratch_dir dir;
    dir.write("bad.mtx", head + "0\tOn ch=1 n=60 v=300\nTrkEnd\n");
    EXPECT_EQ(dir.run({"bad.mtx"}, assembler()).err,
              "bad.mtx:3:18: the value 300 is out of range (0 to 255)\n0\tOn ch=1 n=60 v=300\n \t"
              "               ^\nbad.mtx: 1 error; no MIDI file written\n");
}

TEST(Assembler, NamesBacksUpAndStreams) {
    scratch_dir dir;
    dir.write("demo.mtx", demo_listing());
    tool_run run = dir.run({"demo.mtx"}, assembler());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("demo.mid"), demo_midi());

    // A second run moves the first file aside, as the lister does.
    dir.write("demo.mtx", demo_listing() + "# edited\n");
    run = dir.run({"-bnv", "--", "demo.mtx"}, assembler());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "Notice: Output file demo.mid already exits.\n\tIt is renamed as demo$.mid\n");
    EXPECT_EQ(dir.read("demo$.mid"), demo_midi());
    EXPECT_EQ(dir.read("demo.mid"), demo_midi());

    // Standard input needs an output name; "-" writes standard output.
    run = dir.run({"-", "piped.mid"}, assembler((dir / "demo.mtx").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("piped.mid"), demo_midi());
    run = dir.run({"demo.mtx", "-"}, assembler());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, demo_midi());
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"demo$.mid", "demo.mid", "demo.mtx", "piped.mid"}));

    // A directory under the output name is never replaced.
    fs::create_directory(dir / "folder.mid");
    run = dir.run({"demo.mtx", "folder.mid"}, assembler());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "smfasm: cannot write folder.mid: Is a directory\n");
    EXPECT_TRUE(fs::is_empty(dir / "folder.mid"));
}

TEST(Assembler, UsageErrors) {
    scratch_dir dir;
    const std::string usage = "usage: smfasm [-bBtTnNvVmM] [-f[N]] [--no-running-status] [--] LISTING [OUTPUT]\n";
    struct row {
        std::vector<std::string> args;
        int status;
        std::string err;
        std::string out;
    };
    const std::vector<row> rows = {
        {{}, 2, "smfasm: no listing named\n" + usage, ""},
        {{"-x", "a.mtx"}, 2, "smfasm: no such flag: x\n" + usage, ""},
        {{"--frobnicate", "a.mtx"}, 2, "smfasm: no such option: --frobnicate\n" + usage, ""},
        {{"a.mtx", "b.mid", "c"}, 2, "smfasm: too many arguments\n" + usage, ""},
        {{"-"}, 2, "smfasm: reading standard input needs an OUTPUT name\n" + usage, ""},
        {{"missing.mtx"}, 1, "smfasm: cannot open missing.mtx: No such file or directory\n", ""},
        {{"--version"}, 0, "", "smfasm 1.0.0\n"},
    };
    for (const row& r : rows) {
        const tool_run run = dir.run(r.args, assembler());
        EXPECT_EQ(run.status, r.status) << testing::PrintToString(r.args);
        EXPECT_EQ(run.err, r.err) << testing::PrintToString(r.args);
        EXPECT_EQ(run.out, r.out) << testing::PrintToString(r.args);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace smfasm::test
