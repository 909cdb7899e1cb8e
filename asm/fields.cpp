#include "asm/fields.h"

#include <array>
#include <string>
#include <string_view>

#include "state/tables.h"

namespace smfasm {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The field at `begin`: up to the next blank, tab or fold, cut short when
// long, so that a message quotes what is wrong and not the rest of the line.
std::string shown(const char* begin, const char* end) {
    const char* stop = begin;
    while (stop != end && *stop != ' ' && *stop != '\t' && *stop != '\\') ++stop;
    if (stop == begin && stop != end) ++stop;
    std::string text(begin, stop);
    if (text.size() > 24) text = text.substr(0, 24) + "...";
    return text;
}

}  // namespace

int read_note_name(const char*& p) {
    const char* q = p;
    const auto letter = static_cast<unsigned char>(lower(*q));
    int index = letter < 128 ? note_letter_index[letter] : -1;
    if (index < 0) return -1;
    ++q;
    if (*q == '#') {
        ++index;
        ++q;
    } else if (*q == 'b') {
        --index;
        ++q;
    }
    const char* digits = q;
    int octave = 0;
    while (is_digit(*q) && q - digits < 3) octave = octave * 10 + (*q++ - '0');
    if (q == digits) return -1;
    const int value = octave * 12 + index;
    if (is_digit(*q) || value < 0 || value > 255) {
        while (is_digit(*q)) ++q;
        p = q;
        return -2;
    }
    p = q;
    return value;
}

void field_cursor::fail(const char* at, std::string message) { throw line_error{at, std::move(message)}; }

std::size_t field_cursor::fold_length(const char* p) const {
    if (p == end_ || *p != '\\') return 0;
    const char* q = p + 1;
    if (q != end_ && *q == '\r') ++q;
    if (q == end_ || *q != '\n') return 0;
    ++q;
    if (q == end_ || *q != '\t') fail(q, "a folded line must continue with a tab");
    return static_cast<std::size_t>(q + 1 - p);
}

void field_cursor::skip_blanks_slowly() {
    for (;;) {
        if (p_ != end_ && (*p_ == ' ' || *p_ == '\t')) {
            ++p_;
        } else if (const std::size_t fold = fold_length(p_)) {
            p_ += fold;
        } else {
            return;
        }
    }
}

void field_cursor::missing_blank(const char* what) const { fail(p_, std::string("expected a blank before ") + what); }

void field_cursor::unexpected_text() const {
    fail(p_, "unexpected text at the end of the line: \"" + shown(p_, end_) + "\"");
}

void field_cursor::expect(std::string_view text, const char* what) {
    if (static_cast<std::size_t>(end_ - p_) < text.size() || std::string_view(p_, text.size()) != text) {
        fail(p_, std::string("expected ") + what);
    }
    p_ += text.size();
}

std::int64_t field_cursor::number_slowly(std::int64_t low, std::int64_t high, const char* what) {
    const char* start = p_;
    const char* p = p_;
    const bool negative = *p == '-';
    if (negative) ++p;
    if (!is_digit(*p)) fail(start, std::string("expected a number for ") + what);
    while (*p == '0' && is_digit(p[1])) ++p;  // leading zeros, written by hand
    const char* digits = p;
    std::int64_t magnitude = 0;
    for (; is_digit(*p); ++p) {
        if (p - digits < 18) magnitude = magnitude * 10 + (*p - '0');
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (p - digits > 12 || value < low || value > high) {
        fail(start, std::string(what) + " " + std::string(start, p) + " is out of range (" + std::to_string(low) +
                        " to " + std::to_string(high) + ")");
    }
    p_ = p;
    return value;
}

std::int64_t field_cursor::tempo(bool& per_minute) {
    const char* start = p_;
    const char* p = p_;
    while (is_digit(*p)) ++p;
    const char* point = p;
    if (*p == '.') {
        ++p;
        while (is_digit(*p)) ++p;
    }
    per_minute = end_ - p >= 3 && std::string_view(p, 3) == "bpm";
    if (!per_minute) {
        if (point != p) fail(start, "a tempo in beats per minute ends in bpm, as in 92.5bpm");
        return number(0, 0xFFFFFF, "the tempo");
    }
    // Beats per minute as whole / 10^k, in exact integer arithmetic.
    const auto whole_digits = point - start;
    const auto fraction_digits = p == point ? 0 : p - point - 1;
    if (whole_digits + fraction_digits == 0) fail(start, "expected a number of beats per minute");
    if (whole_digits > 9 || fraction_digits > 6) {
        fail(start, "the tempo " + std::string(start, p + 3) + " has too many digits");
    }
    std::int64_t scaled = 0;
    std::int64_t scale = 1;
    for (const char* q = start; q != p; ++q) {
        if (*q == '.') continue;
        scaled = scaled * 10 + (*q - '0');
        if (q > point) scale *= 10;
    }
    const std::int64_t per_quarter = scaled == 0 ? 0 : (std::int64_t{120000000} * scale + scaled) / (2 * scaled);
    if (per_quarter < 1 || per_quarter > 0xFFFFFF) {
        fail(start, "the tempo " + std::string(start, p + 3) +
                        " is out of range (4bpm to 60000000bpm: 1 to 16777215 microseconds per quarter note)");
    }
    p_ = p + 3;
    return per_quarter;
}

int field_cursor::note_name() {
    const char* p = p_;
    const int value = read_note_name(p);
    if (value == -2) fail(p_, "note " + std::string(p_, p) + " is out of range (c0 to d#21)");
    if (value < 0) fail(p_, "not a note: \"" + shown(p_, end_) + "\"");
    p_ = p;
    return value;
}

void field_cursor::measure_time(time_field& t) {
    constexpr std::int64_t low = INT32_MIN;
    constexpr std::int64_t high = INT32_MAX;
    ++p_;
    t.measure = true;
    t.beat = static_cast<std::int32_t>(number(low, high, "the beat"));
    expect(":", "\":\" and the tick of measure:beat:tick");
    t.tick = static_cast<std::int32_t>(number(low, high, "the tick"));
}

void field_cursor::hex_bytes(payload_bytes& out) {
    for (;;) {
        skip_blanks();
        if (p_ == end_) return;
        if (*p_ == '#' && (p_[-1] == ' ' || p_[-1] == '\t')) {  // a comment after the bytes
            p_ = end_;
            return;
        }
        const int high = hex_value(*p_);
        const int low = p_ + 1 != end_ ? hex_value(p_[1]) : -1;
        const char* after = p_ + 2;
        if (high < 0 || low < 0 || (after < end_ && *after != ' ' && *after != '\t' && fold_length(after) == 0)) {
            fail(p_, "bad hex byte: \"" + shown(p_, end_) + "\"");
        }
        out.push_back(static_cast<unsigned char>(high * 16 + low));
        p_ = after;
    }
}

int field_cursor::hex_type() {
    const char* start = p_;
    if (end_ - p_ < 4 || p_[0] != '0' || p_[1] != 'x' || hex_value(p_[2]) < 0 || hex_value(p_[3]) < 0) {
        fail(start, "expected a meta type 0xNN");
    }
    p_ += 4;
    return hex_value(start[2]) * 16 + hex_value(start[3]);
}

void field_cursor::quoted(payload_bytes& out) {
    const char* start = p_;
    if (p_ == end_ || *p_ != '"') fail(p_, "expected quoted text");
    ++p_;
    for (;;) {
        if (p_ == end_) fail(start, "unterminated quote");
        const char c = *p_;
        if (c == '"') {
            ++p_;
            return;
        }
        if (c != '\\') {
            if (c == '\n') fail(start, "unterminated quote");
            out.push_back(static_cast<unsigned char>(c));
            ++p_;
            continue;
        }
        if (const std::size_t fold = fold_length(p_)) {
            p_ += fold;
            continue;
        }
        const char* escape = p_;
        if (p_ + 1 == end_) fail(start, "unterminated quote");
        const char e = p_[1];
        p_ += 2;
        switch (e) {
            case '0': out.push_back(0x00); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case '"':
            case '\\':
            case ' ': out.push_back(static_cast<unsigned char>(e)); break;
            case 'x': {
                const int high = p_ != end_ ? hex_value(*p_) : -1;
                const int low = p_ != end_ && p_ + 1 != end_ ? hex_value(p_[1]) : -1;
                if (high < 0 || low < 0) fail(escape, "bad escape: \\x needs two hex digits");
                out.push_back(static_cast<unsigned char>(high * 16 + low));
                p_ += 2;
                break;
            }
            default: fail(escape, std::string("bad escape: \\") + e);
        }
    }
}

}  // namespace smfasm
