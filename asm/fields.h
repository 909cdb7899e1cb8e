// The fields of one listing line: numbers, note names, hex bytes, quoted
// text and the time column, read left to right. A malformed field throws a
// line_error naming where it starts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "state/tables.h"

namespace smfasm {

struct line_error {
    const char* at;
    std::string message;
};

using payload_bytes = std::vector<unsigned char>;

// The note-name table's index of each natural note's lower-case letter, or
// -1: the names are read from the same table the writer prints from.
constexpr std::array<signed char, 128> make_note_letter_index() {
    std::array<signed char, 128> index{};
    for (auto& i : index) i = -1;
    for (std::size_t i = 0; i < note_names.size(); ++i) {
        if (note_names[i].size == 1)
            index[static_cast<unsigned char>(note_names[i].text[0])] = static_cast<signed char>(i);
    }
    return index;
}
inline constexpr std::array<signed char, 128> note_letter_index = make_note_letter_index();

// A note name such as c5, c#5 or Eb4 at `p`, which must be followed by a
// line end at the latest: its number, with `p` moved past it; or -1 when
// there is no name, and -2 when it is out of range (0 to 255, c0 to d#21)
// with `p` moved past the digits.
int read_note_name(const char*& p);

// A time column as written: ticks, or measure:beat:tick.
struct time_field {
    bool measure = false;
    std::int32_t ticks = 0;  // the ticks, or the measure
    std::int32_t beat = 0;
    std::int32_t tick = 0;
    const char* at = nullptr;
};

// The text at `end` must be readable and be a line end ("\n" or "\r"), as
// every line from listing_reader is: scans over digits, letters and blanks
// then stop there without testing for the end at every byte.
class field_cursor {
public:
    field_cursor(const char* begin, const char* end) : p_(begin), end_(end) {}

    const char* position() const { return p_; }
    // Skips blanks, tabs and folds (a backslash, the line end and the tab
    // that starts the continuation).
    void skip_blanks() {
        // Nearly every field is behind exactly one blank.
        if (*p_ == ' ' && p_[1] != ' ' && p_[1] != '\\' && p_[1] != '\t') {
            ++p_;
            return;
        }
        skip_blanks_slowly();
    }
    // At least one blank (or fold), then skips the rest.
    void expect_blank(const char* what) {
        const char* before = p_;
        skip_blanks();
        if (p_ == before && p_ != end_) missing_blank(what);
    }
    // True when only blanks are left, or a comment: "#" behind a blank
    // (not in the first column, where it makes the whole line one).
    bool at_end() {
        if (p_ != end_) skip_blanks_slowly();
        if (p_ != end_ && *p_ == '#' && (p_[-1] == ' ' || p_[-1] == '\t')) p_ = end_;
        return p_ == end_;
    }
    // Anything but blanks left is an error.
    void expect_end() {
        if (!at_end()) unexpected_text();
    }

    // Moves past text read by other means (the quick reader's).
    void skip_to(const char* p) { p_ = p; }

    // Letters: a keyword.
    std::string_view word() {
        const char* start = p_;
        const char* p = p_;
        while (static_cast<unsigned>((*p | 0x20) - 'a') < 26) ++p;
        p_ = p;
        return {start, static_cast<std::size_t>(p - start)};
    }
    // `text` exactly, or an error naming `what`.
    void expect(std::string_view text, const char* what);
    // True when the text ahead starts with `text`.
    bool looking_at(std::string_view text) const {
        return static_cast<std::size_t>(end_ - p_) >= text.size() && std::string_view(p_, text.size()) == text;
    }
    // `label` followed by "=": true, and moves past them.
    [[gnu::always_inline]] bool take_label(std::string_view label) {
        // Labels are a few letters: a plain loop beats a call to memcmp, and
        // the line end stops it at the latest.
        const std::size_t size = label.size();
        for (std::size_t i = 0; i < size; ++i) {
            if (p_[i] != label[i]) return false;
        }
        if (p_[size] != '=') return false;
        p_ += size + 1;
        return true;
    }

    // A decimal number, optionally negative, from `low` to `high`.
    std::int64_t number(std::int64_t low, std::int64_t high, const char* what) {
        // Scanned through a local: stores through a char pointer could
        // alias the member, which would then be reloaded at every byte.
        const char* p = p_;
        const bool negative = *p == '-';
        p += negative ? 1 : 0;
        const char* digits = p;
        std::uint64_t magnitude = 0;
        while (static_cast<unsigned>(*p - '0') < 10) {
            magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        // No digits, or more than any field's range has (which could wrap),
        // or out of range: the slow path reads leading zeros or says why.
        const auto count = static_cast<std::size_t>(p - digits);
        const auto value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
        if (count - 1 >= 12 || value < low || value > high) return number_slowly(low, high, what);
        p_ = p;
        return value;
    }
    // A note: a number, or a name such as c5, c#5 or Eb4.
    int note() {
        if (static_cast<unsigned>(*p_ - '0') < 10) return static_cast<int>(number(0, 255, "the note"));
        return note_name();
    }
    time_field time() {
        time_field t;
        t.at = p_;
        t.ticks = static_cast<std::int32_t>(number(INT32_MIN, INT32_MAX, "the time"));
        if (*p_ == ':') measure_time(t);
        return t;
    }
    // A tempo in microseconds per quarter note, or in beats per minute as a
    // decimal number followed by "bpm" (`per_minute` is then set), rounded
    // to the nearest microsecond.
    std::int64_t tempo(bool& per_minute);
    // Two-digit hex bytes up to the end of the line.
    void hex_bytes(payload_bytes& out);
    // One hex byte written "0xNN".
    int hex_type();
    // Quoted text with its escapes.
    void quoted(payload_bytes& out);

    [[noreturn]] static void fail(const char* at, std::string message);

private:
    void skip_blanks_slowly();
    void measure_time(time_field& t);
    int note_name();
    [[noreturn]] void missing_blank(const char* what) const;
    [[noreturn]] void unexpected_text() const;
    std::int64_t number_slowly(std::int64_t low, std::int64_t high, const char* what);

    // A fold at p: its length, or 0 when there is none.
    std::size_t fold_length(const char* p) const;

    const char* p_;
    const char* end_;
};

}  // namespace smfasm
