#include "asm/fields.h"

#include <string>

#include "state/tables.h"

namespace smfasm {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The note-name table's index of a natural note's letter.
int natural_index(char letter) {
    for (std::size_t i = 0; i < note_names.size(); ++i) {
        if (note_names[i].size == 1 && note_names[i].text[0] == letter) return static_cast<int>(i);
    }
    return -1;
}

std::string shown(const char* begin, const char* end) {
    std::string text(begin, end);
    if (text.size() > 24) text = text.substr(0, 24) + "...";
    return text;
}

}  // namespace

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

void field_cursor::skip_blanks() {
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

void field_cursor::expect_blank(const char* what) {
    const char* before = p_;
    skip_blanks();
    if (p_ == before && p_ != end_) fail(p_, std::string("expected a blank before ") + what);
}

bool field_cursor::at_end() {
    skip_blanks();
    return p_ == end_;
}

void field_cursor::expect_end() {
    if (!at_end()) fail(p_, "unexpected text at the end of the line: \"" + shown(p_, end_) + "\"");
}

std::string_view field_cursor::word() {
    const char* start = p_;
    while (p_ != end_ && is_letter(*p_)) ++p_;
    return {start, static_cast<std::size_t>(p_ - start)};
}

void field_cursor::expect(std::string_view text, const char* what) {
    if (static_cast<std::size_t>(end_ - p_) < text.size() || std::string_view(p_, text.size()) != text) {
        fail(p_, std::string("expected ") + what);
    }
    p_ += text.size();
}

bool field_cursor::take_label(std::string_view label) {
    if (static_cast<std::size_t>(end_ - p_) <= label.size() || std::string_view(p_, label.size()) != label ||
        p_[label.size()] != '=') {
        return false;
    }
    p_ += label.size() + 1;
    return true;
}

std::int64_t field_cursor::number(std::int64_t low, std::int64_t high, const char* what) {
    const char* start = p_;
    const bool negative = p_ != end_ && *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_ || !is_digit(*p_)) fail(start, std::string("expected a number for ") + what);
    std::int64_t value = 0;
    while (p_ != end_ && is_digit(*p_)) {
        // Past any field's range: stop growing, the range test reports it.
        if (value < (std::int64_t{1} << 40)) value = value * 10 + (*p_ - '0');
        ++p_;
    }
    if (negative) value = -value;
    if (value < low || value > high) {
        fail(start, std::string(what) + " " + std::string(start, p_) + " is out of range (" + std::to_string(low) +
                        " to " + std::to_string(high) + ")");
    }
    return value;
}

int field_cursor::note() {
    if (p_ == end_ || !is_letter(*p_)) return static_cast<int>(number(0, 255, "the note"));
    const char* start = p_;
    int index = natural_index(lower(*p_));
    if (index < 0) fail(start, "not a note name: \"" + shown(start, end_) + "\"");
    ++p_;
    if (p_ != end_ && *p_ == '#') {
        ++index;
        ++p_;
    } else if (p_ != end_ && *p_ == 'b') {
        --index;
        ++p_;
    }
    if (p_ == end_ || !is_digit(*p_)) fail(start, "not a note name: \"" + shown(start, end_) + "\"");
    const std::int64_t octave = number(0, 21, "the octave");
    const std::int64_t value = octave * 12 + index;
    if (value < 0 || value > 255) fail(start, "note " + std::string(start, p_) + " is out of range (c0 to d#21)");
    return static_cast<int>(value);
}

time_field field_cursor::time() {
    time_field t;
    t.at = p_;
    constexpr std::int64_t low = INT32_MIN;
    constexpr std::int64_t high = INT32_MAX;
    t.ticks = static_cast<std::int32_t>(number(low, high, "the time"));
    if (p_ != end_ && *p_ == ':') {
        ++p_;
        t.measure = true;
        t.beat = static_cast<std::int32_t>(number(low, high, "the beat"));
        expect(":", "\":\" and the tick of measure:beat:tick");
        t.tick = static_cast<std::int32_t>(number(low, high, "the tick"));
    }
    return t;
}

void field_cursor::hex_bytes(payload_bytes& out) {
    for (;;) {
        skip_blanks();
        if (p_ == end_) return;
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
