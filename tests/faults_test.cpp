// Faults injected into the streams, the allocator and the file system: each
// must end with its exact message and status 1, with the input, the backup
// and the partial listing intact on disk.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "app/driver.h"
#include "state/state.h"
#include "tests/support/in_process.h"
#include "tests/support/midi_bytes.h"
#include "tests/support/run_tool.h"

namespace smfasm::test {
namespace {

// A file stream that accepts `budget` bytes, then fails every write with
// ENOSPC; its close can be made to fail too.
struct failing_sink {
    std::FILE* file = nullptr;
    std::size_t budget = 0;
    bool fail_close = false;
};

ssize_t sink_write(void* cookie, const char* data, std::size_t size) {
    auto* sink = static_cast<failing_sink*>(cookie);
    const std::size_t accepted = std::min(size, sink->budget);
    // The C library takes any short count from a cookie as the error; like
    // a disk filling up, it comes with ENOSPC.
    if (accepted < size) errno = ENOSPC;
    if (accepted == 0) return 0;
    sink->budget -= accepted;
    return static_cast<ssize_t>(std::fwrite(data, 1, accepted, sink->file));
}

int sink_seek(void* cookie, off64_t* offset, int whence) {
    auto* sink = static_cast<failing_sink*>(cookie);
    if (std::fseek(sink->file, static_cast<long>(*offset), whence) != 0) return -1;
    *offset = std::ftell(sink->file);
    return 0;
}

int sink_close(void* cookie) {
    auto* sink = static_cast<failing_sink*>(cookie);
    std::fclose(sink->file);
    if (sink->fail_close) {
        errno = EIO;
        return -1;
    }
    return 0;
}

std::FILE* open_failing_sink(failing_sink& sink, const std::string& path) {
    sink.file = std::fopen(path.c_str(), "w");
    return fopencookie(&sink, "w", {nullptr, sink_write, sink_seek, sink_close});
}

// An input stream that delivers `good` bytes of `data`, then fails with EIO.
struct failing_source {
    bytes data;
    std::size_t position = 0;
    std::size_t good = 0;
};

ssize_t source_read(void* cookie, char* buffer, std::size_t size) {
    auto* source = static_cast<failing_source*>(cookie);
    if (source->position >= source->good) {
        errno = EIO;
        return -1;
    }
    const std::size_t count = std::min(size, source->good - source->position);
    std::memcpy(buffer, source->data.data() + source->position, count);
    source->position += count;
    return static_cast<ssize_t>(count);
}

std::FILE* memory_input(const bytes& data) {
    std::FILE* file = std::tmpfile();
    std::fwrite(data.data(), 1, data.size(), file);
    std::rewind(file);
    return file;
}

bytes demo_file() {
    std::ifstream in(std::string(SMFASM_SOURCE_DIR) + "/examples/demo.mid", std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), {});
}

// A multi-track file whose listing is larger than the output layer's buffer.
bytes large_file() {
    bytes events;
    for (int i = 0; i < 40000; ++i) events += bytes{0x00, 0x90, 0x3C, 0x40};
    return header(1, 2, 96) + track(events) + track(events);
}

std::string full_listing(const bytes& input) { return convert_bytes(input).listing; }

// Converts `input` through the driver's last steps into `sink`, backed by
// out.mtx in `dir`.
conversion_result convert_into(const scratch_dir& dir, failing_sink& sink, const bytes& input) {
    return capture([&] {
        state.input = memory_input(input);
        state.output = open_failing_sink(sink, (dir / "out.mtx").string());
        convert_and_report("out.mtx");
    });
}

std::string head_for(const std::string& name) { return "Writing output to " + name + " ...  "; }
const std::string head = head_for("out.mtx");

TEST(Faults, WriteFailsInTheMiddleOfTheListing) {
    scratch_dir dir;
    const bytes input = large_file();
    failing_sink sink{.budget = 100000};
    const conversion_result result = convert_into(dir, sink, input);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.messages, head + "***Error while writing to output file out.mtx\nNo space left on device\n");
    EXPECT_EQ(dir.read("out.mtx"), full_listing(input).substr(0, 100000));
}

TEST(Faults, WriteFailsAtTheFinalFlush) {
    scratch_dir dir;
    failing_sink sink{.budget = 50};
    const conversion_result result = convert_into(dir, sink, demo_file());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.messages, head + "***Error while writing to output file out.mtx\nNo space left on device\n");
    EXPECT_EQ(dir.read("out.mtx"), full_listing(demo_file()).substr(0, 50));
}

TEST(Faults, CloseFails) {
    scratch_dir dir;
    failing_sink sink{.budget = 1 << 30, .fail_close = true};
    const std::string listing = full_listing(demo_file());
    const conversion_result result = convert_into(dir, sink, demo_file());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.messages, head + std::to_string(listing.size()) +
                                   " bytes written.\n***Error while writing to output file out.mtx\n"
                                   "Input/output error\n");
    EXPECT_EQ(dir.read("out.mtx"), listing);
}

TEST(Faults, CompleteRunThroughTheSameStreams) {
    scratch_dir dir;
    failing_sink sink{.budget = 1 << 30};
    const std::string listing = full_listing(large_file());
    const conversion_result result = convert_into(dir, sink, large_file());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.messages, head + std::to_string(listing.size()) + " bytes written.\n");
    EXPECT_EQ(dir.read("out.mtx"), listing);
}

TEST(Faults, ReadFailsInTheMiddleOfATrack) {
    scratch_dir dir;
    failing_source source{.data = large_file(), .good = 1000};
    const conversion_result result = capture([&] {
        state.input = fopencookie(&source, "r", {source_read, nullptr, nullptr, nullptr});
        state.input_name = "song.mid";
        state.output = std::fopen((dir / "out.mtx").c_str(), "w");
        convert_and_report("out.mtx");
    });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.messages, head + "***Error while reading input file song.mid\nInput/output error\n");
    const std::string partial = dir.read("out.mtx");
    EXPECT_GT(partial.size(), 100u);
    EXPECT_EQ(partial, full_listing(large_file()).substr(0, partial.size()));
}

#if defined(__SANITIZE_ADDRESS__)
#define SMFASM_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SMFASM_UNDER_ASAN 1
#endif
#endif

TEST(Faults, AllocationFailureOfTheMessageBuffer) {
#ifdef SMFASM_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any useful limit";
#else
    if (std::getenv("SMFASM_WRAPPER") != nullptr) GTEST_SKIP() << "a wrapper needs more address space";
    scratch_dir dir;
    // 64 MiB of system exclusive cannot fit under a 48 MiB address space.
    const std::uint32_t size = 64u << 20;
    bytes events{0x00, 0xF0};
    events += vlq(size);
    events.resize(events.size() + size - 1, 0x11);
    events.push_back(0xF7);
    const bytes input = header(0, 1, 96) + track(events);
    dir.write("big.mid", input);
    dir.write("big.mtx", std::string("kept"));
    const tool_run run = dir.run({"big.mid"}, {.address_limit = rlim_t{48} << 20});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Notice: Output file big.mtx already exits.\n\tIt is renamed as big$.mtx\n" +
                           head_for("big.mtx") + "Error: malloc error!\n" + prompt);
    EXPECT_EQ(dir.read("big$.mtx"), "kept");
    EXPECT_EQ(dir.read("big.mtx"), "MFile 0 1 96\nMTrk\n");
    EXPECT_EQ(dir.read("big.mid").size(), input.size());
#endif
}

TEST(Faults, BackupCannotBeRenamed) {
    scratch_dir dir;
    dir.write("song.mid", demo_file());
    // The name itself fits the file system; its backup name is one byte too long.
    const std::string name = std::string(251, 'a') + ".m";
    dir.write(name, std::string("precious"));
    const tool_run run = dir.run({"song.mid", name});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "***Error: Output file " + name + " exists and cannot be renamed.\n" + prompt);
    EXPECT_EQ(dir.read(name), "precious");
    const bytes demo = demo_file();
    EXPECT_EQ(dir.read("song.mid"), std::string(demo.begin(), demo.end()));
}

}  // namespace
}  // namespace smfasm::test
