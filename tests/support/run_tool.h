// Runs the real smfdis binary in a temporary directory, with standard
// input from /dev/null, and collects what it left behind.
#pragma once

#include <sys/resource.h>

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

    // Runs `binary` with argument word 0 "smfdis" and then `args`, in this
    // directory; a nonzero `address_limit` caps its address space (bytes).
    tool_run run(const std::vector<std::string>& args, const std::string& binary = SMFDIS_BINARY,
                 rlim_t address_limit = 0) const;

private:
    std::filesystem::path path_;
};

inline const std::string prompt = "Press <Enter> key to continue . . . ";

}  // namespace smfasm::test
