// The assembler's errors and warnings: counted, kept as data for callers
// that show them their own way, and written as "NAME:LINE:COLUMN: text"
// with the line and a caret under the fault.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "asm/assembler.h"
#include "asm/listing_reader.h"

namespace smfasm {

// At most this much of a line is shown around the fault: the rest of a
// long line is cut, with a mark where it was.
inline constexpr std::size_t shown_line_width = 100;

class message_log {
public:
    message_log(const char* name, bool strict, std::FILE* out, std::vector<assembly_message>* collected)
        : name_(name), strict_(strict), out_(out), collected_(collected) {}

    // An error, or a warning, about the byte `at` of `line`.
    void error(const listing_line& line, const char* at, std::string_view text) { add(line, at, text, false); }
    void warning(const listing_line& line, const char* at, std::string_view text) { add(line, at, text, true); }
    // One whose line is not at hand (or is past the end: `line` may be 0 for
    // the listing as a whole, `column` 0 for none).
    void error(long long line, long long column, std::string_view text) { add(line, column, text, false); }
    void warning(long long line, long long column, std::string_view text) { add(line, column, text, true); }

    int errors() const { return errors_; }
    // True once the assembler should stop reading.
    bool full() const { return errors_ >= max_reported_errors; }
    // Says how the run ended when errors were cut short or warnings hidden.
    void finish();

private:
    void add(const listing_line& line, const char* at, std::string_view text, bool warning);
    void add(long long line, long long column, std::string_view text, bool warning);
    // Counts the message; false when it is no longer shown.
    bool count(bool& warning);
    void record(bool warning, long long line, long long column, std::string_view text);
    void head(std::string& out, bool warning, long long line, long long column, std::string_view text) const;

    const char* name_;
    bool strict_;
    std::FILE* out_;
    std::vector<assembly_message>* collected_;
    int errors_ = 0;
    long long warnings_ = 0;
};

}  // namespace smfasm
