// The program: flags, file names, backup, conversion and report.
#pragma once

#include <cstdio>
#include <string>

#include "api/convert.h"

namespace smfasm {

// Runs the whole program; every path out ends in pause_and_exit.
[[noreturn]] void run_program(int argc, char** argv);

// Steps after the files are open: converts `state.input` into
// `state.output` under `options`, checks and reports the result and closes
// both. Ends in pause_and_exit; in-process callers (fault-injection tests)
// hand it streams of their own.
[[noreturn]] void convert_and_report(const char* output_name, const list_options& options = {});

// The listing's name for an input given without an output name.
std::string derive_output_name(const std::string& input_name);

// Opens a file; on failure prints why and returns no stream.
std::FILE* open_input(const char* name, const char* mode);

}  // namespace smfasm
