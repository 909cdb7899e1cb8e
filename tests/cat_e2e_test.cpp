// smfcat end to end: the real binary on real files in a temporary
// directory, listings on standard output and nothing written anywhere else.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/midi_bytes.h"
#include "tests/support/run_tool.h"

namespace smfasm::test {
namespace {

run_options lister(std::string input = "/dev/null") {
    run_options options;
    options.binary = SMFCAT_BINARY;
    options.name = "smfcat";
    options.input = std::move(input);
    return options;
}

std::string source_file(const std::string& name) {
    std::ifstream in(std::string(SMFASM_SOURCE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const bytes note_track = track(bytes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00} + end_of_track());
const std::string note_listing = "MTrk\n0 On ch=1 n=60 v=64\n96 On ch=1 n=60 v=0\n96 Meta TrkEnd\nTrkEnd\n";

// One table of command lines over the same few files: what reaches standard
// output and standard error, and the status. The directory never gains a
// file: no listing file, no backup.
TEST(Cat, CommandLines) {
    scratch_dir dir;
    dir.write("demo.mid", source_file("examples/demo.mid"));
    dir.write("-b", source_file("examples/demo.mid"));
    dir.write("two.mid", header(0, 2, 96) + note_track);
    dir.write("cut.mid", header(0, 1, 96) + note_track + text_bytes("MT"));
    dir.write("short.mid", header(0, 1, 96) + bytes(note_track.begin(), note_track.end() - 3));
    dir.write("bad.mid", header(3, 1, 96));
    dir.write("song.wav", std::string("RIFF\x24\x08\0\0WAVEfmt ", 16));
    dir.write("demo.txt", source_file("examples/demo.txt"));
    // A two-byte Tempo, then a KeySig with mode 2 in a second track.
    dir.write("odd.mid", header(1, 2, 96) + track(meta(0, 0x51, {0x07, 0xA1}) + end_of_track()) +
                             track(meta(7, 0x59, {0x00, 0x02}) + end_of_track()));
    dir.write("mode.mid", header(0, 1, 96) + track(meta(7, 0x59, {0x00, 0x02}) + end_of_track()));
    // Pitch bends whose first byte has its top bit: 0x80 0x40 lists as 0x00 0x41 does.
    dir.write("bend.mid",
              header(0, 1, 96) + track(bytes{0x00, 0xE0, 0x80, 0x40, 0x05, 0xE0, 0xFF, 0x7F} + end_of_track()));
    const std::vector<std::string> before = names_in(dir);
    const std::string demo = source_file("examples/demo.txt");
    const std::string demo_bnv =
        "MFile 0 1 96\nMTrk\n0:0:0 Meta SeqName \"Demo\"\n0:0:0 Tempo 500000\n0:0:0 TimeSig 4/4 24 8\n"
        "0:0:0 On ch=1 note=c5 vol=64\n0:1:0 On ch=1 note=c5 vol=0\n0:1:0 Meta TrkEnd\nTrkEnd\n";
    const std::string usage =
        "usage: smfcat [-bBtTnNvVmMs] [-f[N]] [--score] [--] [FILE...]\n       smfcat --help | --version\n";

    struct row {
        std::vector<std::string> args;
        std::string input;  // standard input
        std::string out;
        std::string err;
        int status;
    };
    const std::vector<row> rows = {
        {{"demo.mid"}, "/dev/null", demo, "", 0},
        {{}, "demo.mid", demo, "", 0},
        {{"-"}, "demo.mid", demo, "", 0},
        // Flags grouped, in either case, before or after the names.
        {{"demo.mid", "-bN", "-V"}, "/dev/null", demo_bnv, "", 0},
        {{"-f20", "-f", "-bnv", "demo.mid"}, "/dev/null", demo_bnv, "", 0},
        {{"demo.mid", "-", "--", "-b"},
         "demo.mid",
         "# demo.mid\n" + demo + "# <stdin>\n" + demo + "# -b\n" + demo,
         "",
         0},
        // A file that cannot be read or is malformed fails, the others list.
        {{"nothing.mid", "demo.mid"},
         "/dev/null",
         "# nothing.mid\n# demo.mid\n" + demo,
         "smfcat: nothing.mid: No such file or directory\n",
         1},
        {{".", "demo.mid"}, "/dev/null", "# .\n# demo.mid\n" + demo, "smfcat: .: Is a directory\n", 1},
        {{"short.mid", "demo.mid"},
         "/dev/null",
         "# short.mid\nMFile 0 1 96\nMTrk\n0 On ch=1 n=60 v=64\n96 On ch=1 n=60 v=0\n# demo.mid\n" + demo,
         "smfcat: short.mid: Error: premature EOF\n",
         1},
        {{"bad.mid"}, "/dev/null", "MFile 3 1 96\n", "smfcat: bad.mid: Can't deal with format 3 files\n", 1},
        {{},
         "short.mid",
         "MFile 0 1 96\nMTrk\n0 On ch=1 n=60 v=64\n96 On ch=1 n=60 v=0\n",
         "smfcat: <stdin>: Error: premature EOF\n",
         1},
        // What smfdis lists silently is a warning, and still a success.
        {{"two.mid"},
         "/dev/null",
         "MFile 0 2 96\n" + note_listing,
         "smfcat: two.mid: warning: the header announces 2 tracks, the file holds 1\n",
         0},
        {{"cut.mid"},
         "/dev/null",
         "MFile 0 1 96\n" + note_listing,
         "smfcat: cut.mid: warning: the file ends inside a chunk tag, after 2 of its 4 bytes\n",
         0},
        // So are meta events whose lines give other bytes back: the first
        // is named, the others counted.
        {{"odd.mid"},
         "/dev/null",
         "MFile 1 2 96\nMTrk\n0 Tempo 499968\n0 Meta TrkEnd\nTrkEnd\nMTrk\n7 KeySig 0 minor\n7 Meta TrkEnd\nTrkEnd\n",
         "smfcat: odd.mid: warning: track 1 at tick 0: a Tempo of 2 bytes (a Tempo has 3), which the listing gives "
         "back "
         "with 3; 1 more such meta event in the file\n",
         0},
        {{"mode.mid"},
         "/dev/null",
         "MFile 0 1 96\nMTrk\n7 KeySig 0 minor\n7 Meta TrkEnd\nTrkEnd\n",
         "smfcat: mode.mid: warning: track 1 at tick 7: a KeySig with mode 2 (0 major, 1 minor), which the listing "
         "gives back as 1\n",
         0},
        {{"bend.mid"},
         "/dev/null",
         "MFile 0 1 96\nMTrk\n0 Pb ch=1 v=8320\n5 Pb ch=1 v=16511\n5 Meta TrkEnd\nTrkEnd\n",
         "smfcat: bend.mid: warning: track 1 at tick 0: a pitch bend whose first data byte is 128 (above 127), which "
         "the listing gives back as 0 with the second byte one higher (--score gives it back); 1 more such pitch "
         "bend in the file\n",
         0},
        // No MIDI file: said plainly, with what it looks like instead.
        {{"/dev/null"}, "/dev/null", "", "smfcat: /dev/null: warning: not a MIDI file: it is empty\n", 0},
        {{"song.wav"},
         "/dev/null",
         "",
         "smfcat: song.wav: not a MIDI file: it starts with \"RIFF\", as WAV audio and other RIFF files do\n",
         1},
        {{"demo.txt"},
         "/dev/null",
         "",
         "smfcat: demo.txt: not a MIDI file: it is a listing (smfasm assembles it)\n",
         1},
        // Usage.
        {{"-x", "demo.mid"}, "/dev/null", "", "smfcat: no such flag: x\n" + usage, 2},
        {{"demo.mid", "-bxz"}, "/dev/null", "", "smfcat: no such flag: xz\n" + usage, 2},
        {{"--frobnicate"}, "/dev/null", "", "smfcat: no such option: --frobnicate\n" + usage, 2},
        {{"--version"}, "/dev/null", "smfcat 1.0.0\n", "", 0},
    };
    for (const row& r : rows) {
        std::string shown;
        for (const std::string& a : r.args) shown += " " + a;
        SCOPED_TRACE("smfcat" + shown);
        const std::string input = r.input == "/dev/null" ? r.input : (dir / r.input).string();
        const tool_run run = dir.run(r.args, lister(input));
        EXPECT_EQ(run.out, r.out);
        EXPECT_EQ(run.err, r.err);
        EXPECT_EQ(run.status, r.status);
    }
    EXPECT_EQ(names_in(dir), before);

    const tool_run help = dir.run({"--help"}, lister());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0U);
}

// A song long enough to fill any pipe many times over.
bytes long_song() {
    bytes events;
    for (int i = 0; i < 200000; ++i) events += bytes{0x00, 0x90, static_cast<unsigned char>(i % 128), 0x40};
    return header(0, 1, 96) + track(events + end_of_track());
}

// In a pipeline: a reader that goes away ends the run at once and without a
// word, by the signal as for cat; a reader that reads all gets every line.
TEST(Cat, Pipes) {
    scratch_dir dir;
    dir.write("long.mid", long_song());
    run_options shell;
    shell.binary = "/bin/bash";
    shell.name = "bash";
    const std::string cat = SMFCAT_BINARY;
    const tool_run head = dir.run({"-c", cat + " long.mid | head -1; echo \"${PIPESTATUS[0]}\""}, shell);
    EXPECT_EQ(head.out, "MFile 0 1 96\n141\n");
    EXPECT_EQ(head.err, "");
    const tool_run count = dir.run({"-c", cat + " < long.mid | wc -l"}, shell);
    EXPECT_EQ(count.out, "200004\n");
    EXPECT_EQ(count.err, "");
    // A closed standard input is not an empty file; unread, it does no harm.
    for (const char* args : {"", " -", " long.mid -"}) {
        const tool_run closed = dir.run({"-c", cat + args + " <&-"}, shell);
        EXPECT_EQ(closed.status, 1) << args;
        EXPECT_EQ(closed.out, "") << args;
        EXPECT_EQ(closed.err, "smfcat: standard input is closed\n") << args;
    }
    EXPECT_EQ(dir.run({"-c", cat + " long.mid <&- | wc -l"}, shell).out, "200004\n");
}

// Standard output that cannot take the listing: the run fails and says so.
TEST(Cat, OutputFailures) {
    scratch_dir dir;
    dir.write("long.mid", long_song());
    run_options limited = lister();
    limited.file_size_limit = 4096;
    const tool_run over = dir.run({"long.mid", "long.mid"}, limited);
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "smfcat: error writing standard output: File too large\n");

    run_options closed = lister();
    closed.close_output_streams = true;
    EXPECT_EQ(dir.run({"long.mid"}, closed).status, 1);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"long.mid"});
}

}  // namespace
}  // namespace smfasm::test
