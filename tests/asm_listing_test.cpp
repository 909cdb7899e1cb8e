// smfasm on hand-written listings: what is probably wrong is said (as a
// warning, or an error under --strict), what is wrong never gives a file,
// and messages stay short and point at the right character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/assembler_run.h"
#include "tests/support/run_tool.h"

namespace smfasm::test {
namespace {

const std::string head = "MFile 0 1 96\nMTrk\n";
const std::string tail = "0 Meta TrkEnd\nTrkEnd\n";
const std::string score = "MFile 0 1 96 score\n";
const std::string score_tail = "1:2:0 Meta TrkEnd\nTrkEnd\n";

// The file's bytes after the header, as "xx xx ...".
std::string hex_after_header(const std::string& file) {
    std::string hex;
    char digits[4];
    for (std::size_t i = 14; i < file.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x ", static_cast<unsigned char>(file[i]));
        hex += digits;
    }
    if (!hex.empty()) hex.pop_back();
    return hex;
}

// Warnings: status 0 and the file as written; under --strict status 1 and
// no file. Each is named with its line, column and caret.
TEST(AssemblerListing, WarnsWhereAListingIsProbablyWrong) {
    struct row {
        std::string listing;
        std::string warning;  // the first line of standard error
        std::string track;    // the bytes after the header
    };
    const std::vector<row> rows = {
        {head + "0 On ch=1 n=200 v=64\n" + tail,
         "w.mtx:3:13: warning: the note 200 is not a MIDI data byte (0 to 127); written as it stands",
         "4d 54 72 6b 00 00 00 08 00 90 c8 40 00 ff 2f 00"},
        {head + "0 Par ch=1 c=7 v=128\n" + tail,
         "w.mtx:3:18: warning: the value 128 is not a MIDI data byte (0 to 127); written as it stands",
         "4d 54 72 6b 00 00 00 08 00 b0 07 80 00 ff 2f 00"},
        {head + "0 Pb ch=1 v=16384\n" + tail,
         "w.mtx:3:13: warning: the pitch bend 16384 is more than two MIDI data bytes hold (0 to 16383); written as "
         "it stands",
         "4d 54 72 6b 00 00 00 08 00 e0 00 80 00 ff 2f 00"},
        {"MFile 1 3 96\nMTrk\n" + tail,
         "w.mtx:1:9: warning: MFile announces 3 tracks, the listing holds 1: the file's header says 1",
         "4d 54 72 6b 00 00 00 04 00 ff 2f 00"},
        {"MFile 4 1 96\nMTrk\n" + tail, "w.mtx:1:7: warning: format 4 is none of the MIDI file formats 0, 1 and 2",
         "4d 54 72 6b 00 00 00 04 00 ff 2f 00"},
        {head + "0 ChPr ch=1 v=1\nTrkEnd\n",
         "w.mtx:4:1: warning: the track begun on line 2 has no Meta TrkEnd event, which a MIDI file's track ends "
         "with",
         "4d 54 72 6b 00 00 00 03 00 d0 01"},
        {head + "0 Meta TrkEnd\n5 ChPr ch=1 v=1\nTrkEnd\n",
         "w.mtx:4:1: warning: an event after the track's Meta TrkEnd on line 3",
         "4d 54 72 6b 00 00 00 07 00 ff 2f 00 05 d0 01"},
        // The end of track written by its type is one all the same.
        {head + "0 Meta 0x2f 01\n5 ChPr ch=1 v=1\nTrkEnd\n",
         "w.mtx:4:1: warning: an event after the track's Meta TrkEnd on line 3",
         "4d 54 72 6b 00 00 00 08 00 ff 2f 01 01 05 d0 01"},
        // Track 1 changes to 3/4 after one 4/4 measure; track 2's 0:0:0
        // carries that metre on: a measure before the change, tick 96.
        {"MFile 1 2 96\nMTrk\n384 TimeSig 3/4 24 8\n384 Meta TrkEnd\nTrkEnd\nMTrk\n0:0:0 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:7:1: warning: 0:0:0 is tick 96, not the track's start: measure times carry on the metre where the "
         "track before left it (TimeSig 3/4 on line 3); write 0 for the start",
         "4d 54 72 6b 00 00 00 0d 83 00 ff 58 04 03 02 18 08 00 ff 2f 00 4d 54 72 6b 00 00 00 04 60 ff 2f 00"},
        // A beat or tick past its bar or beat, where beats count from 0.
        {head + "0:4:0 ChPr ch=1 v=1\n1:0:0 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:3:1: warning: beat 4 is past the end of its bar: a bar has 4 beats, counted from 0; 0:4:0 is tick "
         "384, the same as 1:0:0",
         "4d 54 72 6b 00 00 00 08 83 00 d0 01 00 ff 2f 00"},
        {head + "0 TimeSig 3/8 24 8\n0:0:0 ChPr ch=1 v=1\n0:1:48 ChPr ch=1 v=1\n96 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:5:1: warning: tick 48 is past the end of its beat: a beat has 48 ticks, counted from 0 (TimeSig 3/8 "
         "on line 3); 0:1:48 is tick 96, the same as 0:2:0",
         "4d 54 72 6b 00 00 00 11 00 ff 58 04 03 03 18 08 00 d0 01 60 01 00 ff 2f 00"},
        // Notes left sounding: the first named, the others counted.
        {head + "0 On ch=1 n=60 v=64\n0 On ch=2 n=c4 v=64\n0 On ch=2 n=c4 v=64\n" + tail,
         "w.mtx:7:1: warning: note 60 on channel 1, struck on line 3, still sounds at the end of the track begun on "
         "line 2, and 2 more notes: no note-off (or note-on with velocity 0) ends them",
         "4d 54 72 6b 00 00 00 0f 00 90 3c 40 00 91 30 40 00 30 40 00 ff 2f 00"},
        // An off that ends no note, read quickly or not.
        {head + "0 On ch=1 n=60 v=64\n5 Off ch=1 n=60 v=0\n5 Off ch=1 n=60 v=0\n5 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:5:14: warning: this note-off ends no note: note 60 is not sounding on channel 1",
         "4d 54 72 6b 00 00 00 0f 00 90 3c 40 05 80 3c 00 00 3c 00 00 ff 2f 00"},
        {head + "0 On ch=3 n=Eb4 v=0\n" + tail,
         "w.mtx:3:13: warning: this note-on with velocity 0 ends no note: note Eb4 is not sounding on channel 3",
         "4d 54 72 6b 00 00 00 08 00 92 33 00 00 ff 2f 00"},
        {head + "0 Tempo 120\n" + tail,
         "w.mtx:3:9: warning: the tempo 120 is in microseconds per quarter note, 500000 beats per minute; for 120 "
         "beats per minute write Tempo 120bpm",
         "4d 54 72 6b 00 00 00 0b 00 ff 51 03 00 00 78 00 ff 2f 00"},
        // The score form: bars and beats count from 1; a note's end is
        // placed by the assembler, and may fall behind the track's end.
        {"MFile 0 1 96 score\nMTrk\n1:5:0 ChPr ch=1 v=1\n2:2:0 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:3:3: warning: beat 5 is beyond its bar, which has 4 beats (they count from 1)",
         "4d 54 72 6b 00 00 00 08 83 00 d0 01 60 ff 2f 00"},
        {"MFile 0 1 96 score\nMTrk\n1:1:0 Note ch=1 n=c5 v=64 len=1/1\n1:2:0 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:3:31: warning: this note ends after the track's Meta TrkEnd on line 4: shorten it, or move the Meta "
         "TrkEnd later",
         "4d 54 72 6b 00 00 00 0d 00 90 3c 40 60 ff 2f 00 82 20 80 3c 40"},
        {"MFile 0 1 96 score\nMTrk\n1:1:0 On ch=1 n=60 v=64\n1:2:0 Meta TrkEnd\nTrkEnd\n",
         "w.mtx:5:1: warning: note 60 on channel 1, struck on line 3, still sounds at the end of the track begun on "
         "line 2: no note-off (or note-on with velocity 0) ends it",
         "4d 54 72 6b 00 00 00 08 00 90 3c 40 60 ff 2f 00"},
        // Below 4 beats per minute no tempo can be written: nothing to suggest.
        {head + "0 Tempo 2\n" + tail,
         "w.mtx:3:9: warning: the tempo 2 is in microseconds per quarter note, 30000000 beats per minute",
         "4d 54 72 6b 00 00 00 0b 00 ff 51 03 00 00 02 00 ff 2f 00"},
    };
    for (const row& r : rows) {
        scratch_dir dir;
        dir.write("w.mtx", r.listing);
        tool_run run = dir.run({"w.mtx"}, assembler());
        EXPECT_EQ(run.status, 0) << r.listing << run.err;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), r.warning) << r.listing;
        EXPECT_EQ(hex_after_header(dir.read("w.mid")), r.track) << r.listing;
        run = dir.run({"--strict", "w.mtx", "strict.mid"}, assembler());
        EXPECT_EQ(run.status, 1) << r.listing;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), r.warning.substr(0, r.warning.find(": warning: ")) + ": " +
                                                             r.warning.substr(r.warning.find(": warning: ") + 11) +
                                                             " (a warning, an error under --strict)");
        EXPECT_TRUE(run.err.ends_with("; no MIDI file written\n")) << run.err;
        EXPECT_FALSE(dir.exists("strict.mid"));
    }
}

// Each fault once gave a wrong file with status 0, or a misleading message.
TEST(AssemblerListing, FaultsOfHandWrittenListings) {
    struct row {
        std::string listing;
        int status;
        std::string err;    // the start of standard error
        std::string track;  // with status 0: the bytes after the header
    };
    const std::vector<row> rows = {
        // In the score form a value above 127 is refused, unless the line
        // says the file really holds it.
        {"MFile 0 1 96 score\nMTrk\n1:1:0 Note ch=1 n=b10 v=64 len=1/4\n1:2:0 Meta TrkEnd\nTrkEnd\n", 1,
         "l.mtx:3:19: the note b10 is not a MIDI data byte (0 to 127): a transposition that went too far? Notes run "
         "from c0 to g10; only a line that says raw=1 writes such a value as it stands\n",
         ""},
        {"MFile 0 1 96 score\nMTrk\n1:1:0 Par ch=1 c=7 v=200 raw=1\n1:2:0 Meta TrkEnd\nTrkEnd\n", 0, "",
         "4d 54 72 6b 00 00 00 08 00 b0 07 c8 60 ff 2f 00"},
        // A pitch bend's first byte with its top bit says so: the one number
        // cannot.
        {"MFile 0 1 96 score\nMTrk\n1:1:0 Pb ch=1 v=8320 low=128 raw=1\n1:2:0 Meta TrkEnd\nTrkEnd\n", 0, "",
         "4d 54 72 6b 00 00 00 08 00 e0 80 40 60 ff 2f 00"},
        {"MFile 0 1 96 score\nMTrk\n1:1:0 Pb ch=1 v=8320 low=129 raw=1\n1:2:0 Meta TrkEnd\nTrkEnd\n", 1,
         "l.mtx:3:26: the pitch bend 8320 is not 129 and 128 times a second byte\n", ""},
        {"MFile 0 1 96 score\nMTrk\n1:1:0 Pb ch=1 v=8320 low=128\n1:2:0 Meta TrkEnd\nTrkEnd\n", 1,
         "l.mtx:3:26: the pitch bend's first data byte 128 is not a MIDI data byte (0 to 127); only a line that says "
         "raw=1 writes such a value as it stands\n",
         ""},
        // The score form's own faults: habits, Note lines, marks and bars.
        {score + "MTrk end=soft\n" + score_tail, 1,
         "l.mtx:2:10: expected end=on (notes end by note-on at velocity 0) or end=N (by note-off at velocity N)\n", ""},
        {score + "MTrk running=On,Bogus\n" + score_tail, 1,
         "l.mtx:2:17: expected all, none or channel keywords such as On,Off,Par\n", ""},
        {score + "MTrk order=middle\n" + score_tail, 1, "l.mtx:2:12: expected order=first or order=last\n", ""},
        {score + "MTrk colour=red\n" + score_tail, 1,
         "l.mtx:2:6: unknown track habit \"colour\" (end, running, carry, order)\n", ""},
        {score + "MTrk\n1:1:0 Note ch=1 n=c5 v=64\n" + score_tail, 1,
         "l.mtx:3:26: a Note needs its length: len=1/4, len=1/8. or len=96\n", ""},
        {score + "MTrk\n1:1:0 Note ch=1 n=c5 v=0 len=1/4\n" + score_tail, 1,
         "l.mtx:3:19: a Note needs a velocity above 0 (a note-on at velocity 0 ends a note)\n", ""},
        {score + "MTrk\n1:1:0 Note ch=1 n=c5 v=64 len=1/4 vel=3\n" + score_tail, 1,
         "l.mtx:3:35: unknown field \"vel\" (len, end, endpos, status, endstatus, raw)\n", ""},
        {score + "MTrk\n1:1:0 Par ch=1 c=7 v=1\n1:1:0 On ch=1 n=c5 v=1 status=0\n" + score_tail, 1,
         "l.mtx:4:17: status=0 leaves out the status byte, which only the status of the channel event before may "
         "do\n",
         ""},
        {score + "MTrk\n0:1:0 Meta TrkEnd\nTrkEnd\n", 1, "l.mtx:3:1: bars count from 1\n", ""},
        {"MFile 0 1 100 score\nMTrk\n1:1:0 Note ch=1 n=c5 v=64 len=1/64\n" + score_tail, 1,
         "l.mtx:3:31: this note value is not a whole number of ticks at division 100: write the length in ticks\n", ""},
        {"MFile 0 1 96 scores\nMTrk\n" + tail, 1, "l.mtx:1:14: expected the end of the line, or \"score\"\n", ""},
        {head + "0 Note ch=1 n=c5 v=64 len=1/4\n" + tail, 1,
         "l.mtx:3:3: Note lines belong to the score form: its MFile line ends in \"score\"\n", ""},
        // Marks that keep a file's own bytes: the end's place at its tick,
        // its velocity and status byte, a status byte left out.
        {score + "MTrk end=on\n1:1:0 Note ch=1 n=c5 v=64 len=0 endpos=2 end=9 endstatus=1\n"
                 "1:1:0 On ch=1 n=d5 v=64 status=0\n1:2:0 Meta TrkEnd\nTrkEnd\n",
         0, "", "4d 54 72 6b 00 00 00 0f 00 90 3c 40 00 3e 40 00 80 3c 09 60 ff 2f 00"},
        // A file in SMPTE time has no note values, only ticks.
        {"MFile 0 1 -25 40 score\nMTrk\n0 Note ch=1 n=c5 v=64 len=1/4\n100 Meta TrkEnd\nTrkEnd\n", 1,
         "l.mtx:3:27: a file in SMPTE time has no note values: write the length in ticks\n", ""},
        // An indented comment never folds: the next line stays.
        {head + "  # x \\\n0 On ch=1 n=60 v=64\n" + tail, 0, "", "4d 54 72 6b 00 00 00 08 00 90 3c 40 00 ff 2f 00"},
        // A fold onto a line without its tab is an error; the next line is
        // read on its own.
        {head + "0 Meta Text \"ab\\\n0 On ch=1 n=60 v=64\n" + tail, 1,
         "l.mtx:3:16: this backslash folds the line, but the next line does not start with a tab: remove the "
         "backslash, or start the continuation with a tab\n0 Meta Text \"ab\\\n               ^\n",
         ""},
        // No MFile line: nothing to assemble, and no empty "MIDI file".
        {"", 1, "l.mtx: no MFile line: nothing to assemble\nl.mtx: 1 error; no MIDI file written\n", ""},
        {"# only a comment\n\n", 1, "l.mtx: no MFile line: nothing to assemble\n", ""},
        // A MIDI file given as the listing, its bytes not echoed.
        {std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\n\xff", 20), 1,
         "l.mtx: a MIDI file, not a listing (smfdis lists it)\nl.mtx: 1 error; no MIDI file written\n", ""},
        // The most negative 64-bit number is out of range, and counted
        // without overflow.
        {head + "0 Tempo -9223372036854775808\n" + tail, 1,
         "l.mtx:3:9: the tempo -9223372036854775808 is out of range (0 to 16777215)\n", ""},
        // A gap too large for one delta time is not time going backwards.
        {head + "0 ChPr ch=1 v=0\n268435456 ChPr ch=1 v=0\n" + tail, 1,
         "l.mtx:4:1: tick 268435456 is 268435456 ticks after tick 0, more than a MIDI file can hold in one step "
         "(268435455)\n",
         ""},
        {head + "268435456 SysEx f0 01\n" + tail, 1,
         "l.mtx:3:1: tick 268435456 is 268435456 ticks after tick 0, more than a MIDI file can hold in one step "
         "(268435455); a SysEx message joined from packets takes the time of its last packet: list the file with "
         "-m, which keeps such files exact\n",
         ""},
        // A measure time past the largest tick is not a small one wrapped,
        // nor time going backwards; read quickly or not.
        {head + "11184811:0:0 ChPr ch=1 v=1\n" + tail, 1,
         "l.mtx:3:1: the time 11184811:0:0 is tick 4294967424, out of range (-2147483648 to 2147483647)\n", ""},
        {head + "0 ChPr ch=1 v=1\n11184811:0:0 ChPr ch=1 v=1\n" + tail, 1,
         "l.mtx:4:1: the time 11184811:0:0 is tick 4294967424, out of range (-2147483648 to 2147483647)\n", ""},
        {head + "99999999:0:0 Meta TrkEnd\nTrkEnd\n", 1,
         "l.mtx:3:1: the time 99999999:0:0 is tick 38399999616, out of range (-2147483648 to 2147483647)\n", ""},
        // A byte order mark some editors put first is skipped.
        {"\xEF\xBB\xBF" + head + "0 ChPr ch=1 v=1\n" + tail, 0, "", "4d 54 72 6b 00 00 00 07 00 d0 01 00 ff 2f 00"},
        // Leading zeros read as the number they write.
        {head + "0 On ch=01 n=0000000000060 v=0000000000064\n" + tail, 0, "",
         "4d 54 72 6b 00 00 00 08 00 90 3c 40 00 ff 2f 00"},
        // Hand-writing helps: beats per minute, and an event without time.
        {head + "0 Tempo 120bpm\n0 Tempo 92.5bpm\n" + tail, 0, "",
         "4d 54 72 6b 00 00 00 12 00 ff 51 03 07 a1 20 00 ff 51 03 09 e5 c9 00 ff 2f 00"},
        {head + "On ch=1 n=60 v=64\n" + tail, 1,
         "l.mtx:3:1: every event line starts with its time, in ticks or as measure:beat:tick (\"0 On ...\")\n", ""},
        // A message quotes the bad field only.
        {head + "0 SysEx f0 4g 00 11 22 33 44 55 66 77\n" + tail, 1, "l.mtx:3:12: bad hex byte: \"4g\"\n", ""},
        {head + "0 ChPr ch=1 v=1 and more text\n" + tail, 1,
         "l.mtx:3:17: unexpected text at the end of the line: \"and\"\n", ""},
    };
    for (const row& r : rows) {
        scratch_dir dir;
        dir.write("l.mtx", r.listing);
        const tool_run run = dir.run({"l.mtx"}, assembler());
        EXPECT_EQ(run.status, r.status) << r.listing << run.err;
        EXPECT_EQ(run.err.substr(0, r.err.size()), r.err) << r.listing;
        if (r.status == 0) {
            EXPECT_EQ(hex_after_header(dir.read("l.mid")), r.track) << r.listing;
        } else {
            EXPECT_EQ(names_in(dir), std::vector<std::string>{"l.mtx"}) << r.listing;
        }
    }
}

TEST(AssemblerListing, ErrorsOnLongLinesAreShortAndTheCaretStaysAligned) {
    scratch_dir dir;
    // An error at the end of a 5 MB line, twenty times.
    std::string line = "0 SysEx f0";
    for (int i = 0; i < 1700000; ++i) line += " 00";
    line += " zz\n";
    std::string listing = head;
    for (int i = 0; i < 20; ++i) listing += line;
    dir.write("long.mtx", listing + tail);
    const tool_run run = dir.run({"long.mtx"}, assembler());
    EXPECT_EQ(run.status, 1);
    EXPECT_LT(run.err.size(), 20 * 300U);
    const std::string first = run.err.substr(0, run.err.find('\n'));
    EXPECT_EQ(first, "long.mtx:3:5100012: bad hex byte: \"zz\"");
    // The line is cut around the fault, with a mark, and the caret stands
    // under it.
    const std::size_t shown = run.err.find('\n') + 1;
    const std::string text = run.err.substr(shown, run.err.find('\n', shown) - shown);
    const std::size_t caret_at = shown + text.size() + 1;
    const std::string caret = run.err.substr(caret_at, run.err.find('\n', caret_at) - caret_at);
    EXPECT_TRUE(text.starts_with("...")) << text;
    EXPECT_LE(text.size(), 110U);
    EXPECT_EQ(text.substr(caret.size() - 1, 2), "zz") << text << "\n" << caret;

    // Tabs are kept and a character of several bytes takes one column.
    dir.write("tab.mtx", head + "0\tMeta Text \"h\xc3\xa9llo\" x\n" + tail);
    EXPECT_EQ(dir.run({"tab.mtx"}, assembler()).err,
              "tab.mtx:3:22: unexpected text at the end of the line: \"x\"\n0\tMeta Text \"h\xc3\xa9llo\" x\n"
              " \t                  ^\ntab.mtx: 1 error; no MIDI file written\n");
}

}  // namespace
// A comment may stand behind any line's fields, hex dumps included.
TEST(AssemblerListing, CommentsAtTheEndOfLines) {
    scratch_dir dir;
    dir.write("c.mtx", head + "0 SysEx f0 01 f7  # a reset\n0 Meta 0x7f 01 # ours\n0 Tempo 500000 # 120 bpm\n" + tail);
    const tool_run run = dir.run({"c.mtx"}, assembler());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(hex_after_header(dir.read("c.mid")),
              "4d 54 72 6b 00 00 00 15 00 f0 02 01 f7 00 ff 7f 01 01 00 ff 51 03 07 a1 20 00 ff 2f 00");
}

}  // namespace smfasm::test
