// The flag scanner: walks the argument words one flag letter at a time.
#pragma once

#include <cstdio>
#include <string_view>

#include "api/convert.h"

namespace smfasm {

// Letters the program accepts; a letter followed by "|" takes the rest of
// its word as an argument.
inline constexpr const char* option_spec = "F|f|BbNnTtVvMm";

struct option_scanner {
    // Word being scanned; 0 is the program's name, so scanning starts at 1.
    // Once scanning has ended it names the first file name.
    int option_word_index = 0;
    // Flag letter last returned inside the current word, or none.
    const char* option_position = nullptr;
    // For a flag with an argument: the rest of its word (possibly empty).
    const char* option_argument = "";
};

// Returns the next flag letter, 0 when the flags have ended, or -1 after
// reporting an unrecognised letter (with `quiet` nonzero such letters skip
// the rest of their word silently).
int scan_option(option_scanner& scanner, int argc, char** argv, const char* spec, int quiet);

// The F flag's number: leading blanks, an optional sign, then digits in
// wrapping 32-bit arithmetic up to the first non-digit; no digits give 0.
int parse_width(const char* text);

// Acts on one flag letter of option_spec; `argument` is the rest of its word
// for F. Other characters (the "|" of option_spec) are ignored.
void apply_lister_flag(lister_options& options, int letter, const char* argument);

// --help (the usage, then `summary`) and --version, answered alike by every
// program on standard output: true when `word` is one of them.
inline bool answer_help_or_version(std::string_view word, const char* usage, const char* summary, const char* version) {
    if (word != "--help" && word != "--version") return false;
    std::fputs(word == "--help" ? usage : version, stdout);
    if (word == "--help") std::fputs(summary, stdout);
    return true;
}

}  // namespace smfasm
