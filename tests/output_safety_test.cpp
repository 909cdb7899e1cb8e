// The output file under hostile conditions: runs racing for one name, a
// lowered file-size limit, a reader that quits, closed standard streams and
// an output file the user cannot read. Nothing may be lost, and no failure
// may pass for success or end the program without a word.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/in_process.h"
#include "tests/support/midi_bytes.h"
#include "tests/support/run_tool.h"

namespace smfasm::test {
namespace {

namespace fs = std::filesystem;

// A file named `name` whose listing holds `notes` note lines: over a few
// hundred notes the listing is written in more than one piece.
bytes song(const std::string& name, int notes) {
    bytes events = meta(0, 3, text_bytes(name));
    for (int i = 0; i < notes; ++i) events += bytes{0x01, 0x90, static_cast<unsigned char>(i % 128), 0x40};
    return header(0, 1, 96) + track(events + end_of_track());
}

std::string listing_of(const bytes& input) { return convert_bytes(input).listing; }

std::string head(const std::string& name) { return "Writing output to " + name + " ...  "; }

bool under_wrapper() { return std::getenv("SMFASM_WRAPPER") != nullptr; }

TEST(OutputSafety, RunsStartedTogetherOnOneNameLoseNothing) {
    // Under a wrapper each start takes long enough to spread the runs out:
    // fewer rounds of smaller files still check the outcome.
    const int rounds = under_wrapper() ? 1 : 10;
    const int notes = under_wrapper() ? 500 : 20000;
    constexpr int runs = 20;
    std::vector<std::string> listings;
    for (int i = 0; i < runs; ++i) {
        listings.push_back(listing_of(song("run " + std::to_string(i), notes)));
    }
    for (int round = 0; round < rounds; ++round) {
        scratch_dir dir;
        for (int i = 0; i < runs; ++i)
            dir.write("run" + std::to_string(i) + ".mid", song("run " + std::to_string(i), notes));
        dir.write("song.mtx", std::string("the earlier listing"));
        start_gate gate;
        std::vector<started_run> started;
        for (int i = 0; i < runs; ++i) {
            started.push_back(dir.start({"run" + std::to_string(i) + ".mid", "song.mtx"}, {.gate = &gate}));
        }
        gate.open();
        std::vector<tool_run> results;
        for (const started_run& s : started) results.push_back(scratch_dir::finish(s));

        // Every file under the output name or a backup name holds one whole
        // listing, or the earlier file.
        std::map<std::string, int> found;  // content -> files holding it
        for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".mid")) continue;
            EXPECT_TRUE(name == "song.mtx" || (name.starts_with("song$") && name.ends_with(".mtx"))) << name;
            const std::string content = dir.read(name);
            bool known = content == "the earlier listing";
            for (const std::string& listing : listings) known = known || content == listing;
            EXPECT_TRUE(known) << "round " << round << ": " << name << " mixes or cuts listings";
            ++found[content];
        }
        EXPECT_EQ(found["the earlier listing"], 1) << "round " << round;
        for (int i = 0; i < runs; ++i) {
            EXPECT_EQ(results[i].status, 0) << "round " << round << ", run " << i << ": " << results[i].err;
            if (results[i].status == 0) {
                EXPECT_EQ(found[listings[i]], 1) << "round " << round << ", run " << i;
            }
        }
        EXPECT_EQ(found.size(), static_cast<std::size_t>(runs + 1)) << "round " << round;
    }
}

TEST(OutputSafety, FailingWritesAreReported) {
    scratch_dir dir;
    const bytes input = song("big", 20000);
    const std::string listing = listing_of(input);
    dir.write("big.mid", input);

    // Over a file-size limit writes fail with EFBIG instead of a signal.
    // Standard error, a file too, stays below the limit.
    constexpr rlim_t limit = 8192;
    ASSERT_GT(listing.size(), limit);
    tool_run run = dir.run({"big.mid", "out.mtx"}, {.file_size_limit = limit});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, head("out.mtx") + "***Error while writing to output file out.mtx\nFile too large\n" + prompt);
    EXPECT_EQ(dir.read("out.mtx"), listing.substr(0, limit));

    // A reader that goes away makes writes fail with EPIPE. The listing is
    // larger than a pipe holds, so the run writes after the reader has left.
    ASSERT_EQ(mkfifo((dir / "pipe.mtx").c_str(), 0600), 0);
    const int reader = open((dir / "pipe.mtx").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const started_run started = dir.start({"big.mid", "pipe.mtx"});
    // Wait for the first bytes (the writer is there), then leave.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char byte = 0;
    while (read(reader, &byte, 1) != 1 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{reader, POLLIN, 0};
        poll(&ready, 1, 100);
    }
    close(reader);
    run = scratch_dir::finish(started);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, head("pipe.mtx") + "***Error while writing to output file pipe.mtx\nBroken pipe\n" + prompt);
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.mtx"));
    EXPECT_FALSE(dir.exists("pipe$.mtx"));
}

TEST(OutputSafety, ClosedStandardStreamsStayOutOfTheListing) {
    if (under_wrapper()) {
        GTEST_SKIP() << "a wrapper such as valgrind needs descriptor 2 itself and takes it back from the program";
    }
    scratch_dir dir;
    const bytes input = song("closed", 100);
    dir.write("song.mid", input);
    EXPECT_EQ(dir.run({"song.mid", "normal.mtx"}).status, 0);
    const tool_run run = dir.run({"song.mid", "closed.mtx"}, {.close_output_streams = true});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("closed.mtx"), dir.read("normal.mtx"));
    EXPECT_EQ(dir.read("closed.mtx"), listing_of(input));
    EXPECT_EQ(dir.read("song.mid"), std::string(input.begin(), input.end()));
}

TEST(OutputSafety, UnreadableOutputIsMovedAside) {
    scratch_dir dir;
    // Root reads any file: the run must be a user to whom the file is write-only.
    const uid_t user = geteuid() == 0 ? 65534 : 0;
    if (user != 0) {
        ASSERT_EQ(chown(dir.path().c_str(), user, user), 0);
    }
    const bytes input = song("demo", 3);
    dir.write("song.mid", input);
    ASSERT_EQ(chmod((dir / "song.mid").c_str(), 0644), 0);
    dir.write("song.mtx", std::string("precious"));
    ASSERT_EQ(chmod((dir / "song.mtx").c_str(), 0222), 0);

    const tool_run run = dir.run({"song.mid"}, {.user = user});
    const std::string listing = listing_of(input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Notice: Output file song.mtx already exits.\n\tIt is renamed as song$.mtx\n" +
                           head("song.mtx") + std::to_string(listing.size()) + " bytes written.\n" + prompt);
    EXPECT_EQ(fs::status(dir / "song$.mtx").permissions(), static_cast<fs::perms>(0222));
    ASSERT_EQ(chmod((dir / "song$.mtx").c_str(), 0644), 0);
    EXPECT_EQ(dir.read("song$.mtx"), "precious");
    EXPECT_EQ(dir.read("song.mtx"), listing);
}

TEST(OutputSafety, TheProgramsOwnOutputIsWrittenWhereItGoes) {
    // /dev/stdout names the program's own output; a link of the same kind in
    // the scratch directory stands in for it, so that a fault could only
    // ever move that link.
    scratch_dir dir;
    const bytes input = song("stream", 10);
    dir.write("song.mid", input);
    fs::create_symlink("/proc/self/fd/1", dir / "stream.mtx");
    fs::create_symlink("/proc/self/fd/1", dir / "stream.mid");
    tool_run run = dir.run({"song.mid", "stream.mtx"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, listing_of(input));
    dir.write("song.mtx", run.out);

    run_options assembler;
    assembler.binary = SMFASM_BINARY;
    assembler.name = "smfasm";
    run = dir.run({"song.mtx", "stream.mid"}, assembler);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(listing_of(bytes(run.out.begin(), run.out.end())), listing_of(input));
    EXPECT_TRUE(fs::is_symlink(dir / "stream.mtx"));
    EXPECT_TRUE(fs::is_symlink(dir / "stream.mid"));
    EXPECT_FALSE(dir.exists("stream$.mtx"));
    EXPECT_FALSE(dir.exists("stream$.mid"));
}

}  // namespace
}  // namespace smfasm::test
