// Runs the real smfdis binary in a temporary directory, with standard
// input from /dev/null, and collects what it left behind.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/midi_bytes.h"

namespace smfasm::test {

struct tool_run {
    int status = -1;
    std::string err;  // standard error
    std::string out;  // standard output: always empty
};

// Holds back the runs started with it until it is opened, so that they
// start together.
class start_gate {
public:
    start_gate();
    ~start_gate();
    start_gate(const start_gate&) = delete;
    start_gate& operator=(const start_gate&) = delete;

    void open();

    void wait_in_child() const;  // for a started child only

private:
    int read_end_ = -1;
    int write_end_ = -1;
};

struct run_options {
    std::string binary = SMFDIS_BINARY;
    std::string name = "smfdis";        // argument word 0
    std::string input = "/dev/null";    // standard input
    rlim_t address_limit = 0;           // nonzero: caps the address space (bytes)
    rlim_t file_size_limit = 0;         // nonzero: caps the size of files written (bytes)
    bool close_output_streams = false;  // runs with descriptors 1 and 2 closed
    uid_t user = 0;                     // nonzero: runs as this user and group
    const start_gate* gate = nullptr;   // starts only once this gate opens
};

// A run started and not yet waited for.
struct started_run {
    pid_t pid = -1;
    std::string err_file;
    std::string out_file;
    std::string links_dir;
};

class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    void write(const std::string& name, const bytes& data) const;
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

    // Runs `options.binary` with argument word 0 `options.name` and then `args`,
    // in this directory, and waits for it.
    tool_run run(const std::vector<std::string>& args, const run_options& options = {}) const;

    // The same in two steps, for runs that overlap.
    started_run start(const std::vector<std::string>& args, const run_options& options = {}) const;
    static tool_run finish(const started_run& started);

private:
    std::filesystem::path path_;
};

// The names in the directory, sorted.
std::vector<std::string> names_in(const scratch_dir& dir);

inline const std::string prompt = "Press <Enter> key to continue . . . ";

}  // namespace smfasm::test
