// The fields of one listing line: numbers, note names, hex bytes, quoted
// text and the time column, read left to right. A malformed field throws a
// line_error naming where it starts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace smfasm {

struct line_error {
    const char* at;
    std::string message;
};

using payload_bytes = std::vector<unsigned char>;

// A time column as written: ticks, or measure:beat:tick.
struct time_field {
    bool measure = false;
    std::int32_t ticks = 0;  // the ticks, or the measure
    std::int32_t beat = 0;
    std::int32_t tick = 0;
    const char* at = nullptr;
};

class field_cursor {
public:
    field_cursor(const char* begin, const char* end) : p_(begin), end_(end) {}

    const char* position() const { return p_; }
    // Skips blanks, tabs and folds (a backslash, the line end and the tab
    // that starts the continuation).
    void skip_blanks();
    // At least one blank (or fold), then skips the rest.
    void expect_blank(const char* what);
    // True when only blanks are left.
    bool at_end();
    // Anything but blanks left is an error.
    void expect_end();

    // Letters: a keyword.
    std::string_view word();
    // `text` exactly, or an error naming `what`.
    void expect(std::string_view text, const char* what);
    // True when the text ahead starts with `text`.
    bool looking_at(std::string_view text) const {
        return static_cast<std::size_t>(end_ - p_) >= text.size() && std::string_view(p_, text.size()) == text;
    }
    // `label` followed by "=", or an error naming what was expected.
    bool take_label(std::string_view label);

    // A decimal number, optionally negative, from `low` to `high`.
    std::int64_t number(std::int64_t low, std::int64_t high, const char* what);
    // A note: a number, or a name such as c5, c#5 or Eb4.
    int note();
    time_field time();
    // Two-digit hex bytes up to the end of the line.
    void hex_bytes(payload_bytes& out);
    // One hex byte written "0xNN".
    int hex_type();
    // Quoted text with its escapes.
    void quoted(payload_bytes& out);

    [[noreturn]] static void fail(const char* at, std::string message);

private:
    // A fold at p: its length, or 0 when there is none.
    std::size_t fold_length(const char* p) const;

    const char* p_;
    const char* end_;
};

}  // namespace smfasm
