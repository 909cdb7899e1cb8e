// smfasm's output under attack: what stands at OUTPUT changing during a run,
// memory running out, standard streams closed or shared, terminals, dotted
// directories, write failures and a bad TMPDIR. Nothing is lost, nothing is
// left behind, and no failure reports success.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/assembler_run.h"
#include "tests/support/run_tool.h"

namespace smfasm::test {
namespace {

namespace fs = std::filesystem;

bool under_wrapper() { return std::getenv("SMFASM_WRAPPER") != nullptr; }

// smfasm run through the shell, for redirections the harness does not make.
run_options shell() {
    run_options options;
    options.binary = "/bin/sh";
    options.name = "sh";
    return options;
}
std::vector<std::string> shell_command(const std::string& command) {
    return {"-c", "smfasm() { \"" SMFASM_BINARY "\" \"$@\"; }; " + command};
}

// Runs smfasm on the demo listing from a FIFO into `output`, and calls
// `meanwhile` once the listing is in but before it ends.
template <class Action>
tool_run while_reading(const scratch_dir& dir, const std::string& output, Action meanwhile) {
    const fs::path fifo = dir / (output + ".in");
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const started_run started = dir.start({"-", output}, assembler(fifo.string()));
    const int writer = open(fifo.c_str(), O_WRONLY);
    const std::string listing = demo_listing();
    EXPECT_EQ(write(writer, listing.data(), listing.size()), static_cast<ssize_t>(listing.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(under_wrapper() ? 3000 : 300));
    meanwhile();
    close(writer);
    const tool_run run = scratch_dir::finish(started);
    fs::remove(fifo);
    return run;
}

TEST(AssemblerOutput, WhatStandsAtOutputWhenInstalledDecides) {
    // A FIFO at the start, replaced by a regular file: moved aside.
    scratch_dir dir;
    ASSERT_EQ(mkfifo((dir / "p.mid").c_str(), 0600), 0);
    const tool_run run = while_reading(dir, "p.mid", [&] {
        fs::remove(dir / "p.mid");
        dir.write("p.mid", std::string("precious"));
    });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("p$.mid"), "precious");
    EXPECT_EQ(dir.read("p.mid"), demo_midi());
    EXPECT_EQ(run.err, "Notice: Output file p.mid already exists.\n\tIt is renamed as p$.mid\n");

    // A regular file at the start, a FIFO at the end: written as it stands
    // (through a reader that never blocks, the output waiting in the FIFO).
    dir.write("late.mid", std::string("old"));
    int reader = -1;
    const tool_run late = while_reading(dir, "late.mid", [&] {
        fs::rename(dir / "late.mid", dir / "kept.mid");
        EXPECT_EQ(mkfifo((dir / "late.mid").c_str(), 0600), 0);
        reader = open((dir / "late.mid").c_str(), O_RDONLY | O_NONBLOCK);
    });
    ASSERT_GE(reader, 0);
    std::string got;
    char block[4096];
    for (ssize_t n; (n = read(reader, block, sizeof block)) > 0;) got.append(block, static_cast<std::size_t>(n));
    close(reader);
    EXPECT_EQ(late.status, 0) << late.err;
    EXPECT_EQ(got, demo_midi());
    EXPECT_EQ(dir.read("kept.mid"), "old");
}

TEST(AssemblerOutput, OutOfMemoryLeavesNothingBehind) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any useful limit";
#endif
#endif
    if (under_wrapper()) GTEST_SKIP() << "a wrapper needs more address space";
    scratch_dir dir;
    dir.write("big.mtx", "MFile 0 1 96\nMTrk\n0 Meta Text \"" + std::string(60u << 20, 'a') + "\"\nTrkEnd\n");
    const tool_run run = dir.run({"big.mtx"}, [] {
        run_options options = assembler();
        options.address_limit = rlim_t{150000} << 10;
        return options;
    }());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "smfasm: out of memory while assembling big.mtx\n");
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"big.mtx"});
}

TEST(AssemblerOutput, AHangupIgnoredWhenTheRunBeganStaysIgnored) {
    // As under nohup: the hangup comes while the listing is read, and the
    // file is still made.
    scratch_dir dir;
    dir.write("demo.mtx", demo_listing());
    const tool_run run = dir.run(
        {"-c", "trap '' HUP; mkfifo in; (exec \"" SMFASM_BINARY "\" - out.mid <in) & exec 3>in; i=0; "
               "until ls .smfasm-* >/dev/null 2>&1 || [ $i -gt 1000 ]; do sleep 0.01; i=$((i+1)); done; sleep 0.1; "
               "kill -HUP $!; cat demo.mtx >&3; exec 3>&-; wait $!"},
        shell());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("out.mid"), demo_midi());
}

TEST(AssemblerOutput, ClosedOrSharedStandardStreamsAndTerminalsAreRefused) {
    scratch_dir dir;
    dir.write("demo.mtx", demo_listing());
    // Two tracks announced, one held: a warning on standard error.
    dir.write("warn.mtx", "MFile 0 2 96\nMTrk\n0 Meta TrkEnd\nTrkEnd\n");
    struct row {
        std::string command;
        std::string err;  // standard error, or the start of w.mid when it is standard error
    };
    const std::vector<row> rows = {
        {"smfasm demo.mtx - >&-", "smfasm: standard output is closed: there is nowhere to write the MIDI file\n"},
        {"smfasm - out.mid <&-", "smfasm: standard input is closed: there is no listing to read\n"},
    };
    for (const row& r : rows) {
        const tool_run run = dir.run(shell_command(r.command), shell());
        EXPECT_EQ(run.status, 1) << r.command;
        EXPECT_EQ(run.err, r.err) << r.command;
    }
    // The refusal is all that standard error (w.mid) gets.
    EXPECT_EQ(dir.run(shell_command("smfasm warn.mtx w.mid 2>w.mid"), shell()).status, 1);
    EXPECT_EQ(dir.read("w.mid"),
              "smfasm: refusing to write the MIDI file to standard error, where the messages go (w.mid is standard "
              "error)\n");
    EXPECT_EQ(dir.run(shell_command("smfasm warn.mtx - >w.mid 2>&1"), shell()).status, 1);
    EXPECT_EQ(dir.read("w.mid"),
              "smfasm: refusing to write the MIDI file to standard error, where the messages go (standard output is "
              "standard error)\n");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"demo.mtx", "w.mid", "warn.mtx"}));

    // A terminal under a name of its own.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    fs::create_symlink(ptsname(terminal), dir / "term.mid");
    const tool_run term = dir.run({"demo.mtx", "term.mid"}, assembler());
    close(terminal);
    EXPECT_EQ(term.status, 1);
    EXPECT_EQ(term.err, "smfasm: refusing to write a MIDI file to a terminal\n");
}

TEST(AssemblerOutput, NamesFromDottedDirectoriesAndWriteFailures) {
    scratch_dir dir;
    fs::create_directory(dir / "v1.2");
    dir.write("v1.2/song", demo_listing());
    dir.write("song", demo_listing());
    std::string sysex = "0 SysEx f0";
    for (int i = 0; i < 1000; ++i) sysex += " 01";
    dir.write("long", "MFile 0 1 96\nMTrk\n" + sysex + " f7\n0 Meta TrkEnd\nTrkEnd\n");
    EXPECT_EQ(dir.run({"v1.2/song"}, assembler()).status, 0);
    EXPECT_EQ(dir.run({"./song"}, assembler()).status, 0);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"long", "song", "song.mid", "v1.2"}));
    EXPECT_TRUE(dir.exists("v1.2/song.mid"));
    // A second run backs up in the same directory.
    EXPECT_EQ(dir.run({"v1.2/song"}, assembler()).err,
              "Notice: Output file v1.2/song.mid already exists.\n\tIt is renamed as v1.2/song$.mid\n");

    // A write that fails names OUTPUT, and leaves no temporary file.
    run_options limited = assembler();
    limited.file_size_limit = 200;  // more than the message, less than the file
    tool_run run = dir.run({"long", "out.mid"}, limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "smfasm: error writing out.mid: File too large\n");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"long", "song", "song.mid", "v1.2"}));

    // An unusable TMPDIR is named as such.
    run = dir.run(shell_command("TMPDIR=/nonexistent smfasm song - >out.bin"), shell());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "smfasm: cannot create a temporary file in /nonexistent: No such file or directory\n");
}

}  // namespace
}  // namespace smfasm::test
