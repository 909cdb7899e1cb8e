// What the smfasm end-to-end tests share: a run of the real assembler, and
// the shipped demo as listing and file.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "tests/support/run_tool.h"

namespace smfasm::test {

inline run_options assembler(std::string input = "/dev/null") {
    run_options options;
    options.binary = SMFASM_BINARY;
    options.name = "smfasm";
    options.input = std::move(input);
    return options;
}

inline std::string source_file(const std::string& name) {
    std::ifstream in(std::string(SMFASM_SOURCE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::string demo_midi() { return source_file("examples/demo.mid"); }
inline std::string demo_listing() { return source_file("examples/demo.txt"); }

}  // namespace smfasm::test
