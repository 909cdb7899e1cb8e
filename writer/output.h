// The output layer: every byte of the listing passes through here.
//
// Lines are assembled in one large buffer and handed to the output stream in
// big blocks, so the per-event cost is a few stores instead of a stdio call.
// Callers reserve room first (output_reserve) and then append without checks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "state/tables.h"

namespace smfasm {

namespace output_detail {
inline constexpr std::size_t buffer_size = std::size_t{256} * 1024;
extern char buffer[buffer_size];
extern char* cursor;
}  // namespace output_detail

// Hands everything buffered to `state.output` (dropped when there is none).
// Returns false when the stream has met a write error; the first error is
// kept for output_write_error.
bool output_flush();

// Room that any single line of fixed fields fits in.
inline constexpr std::size_t line_reserve = 160;

inline bool output_has_room(std::size_t bytes) {
    using namespace output_detail;
    return static_cast<std::size_t>(buffer + buffer_size - cursor) >= bytes;
}

// Makes sure `bytes` (at most a line's worth) can be appended.
inline void output_reserve(std::size_t bytes) {
    if (!output_has_room(bytes)) output_flush();
}

inline void put_char(char c) { *output_detail::cursor++ = c; }

inline void put_text(std::string_view text) {
    std::memcpy(output_detail::cursor, text.data(), text.size());
    output_detail::cursor += text.size();
}

namespace output_detail {
constexpr std::array<char, 200> make_digit_pairs() {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}
inline constexpr std::array<char, 200> digit_pairs = make_digit_pairs();
char* format_large(char* dest, std::uint32_t value);

inline char* put_pair(char* dest, std::uint32_t pair) {
    std::memcpy(dest, &digit_pairs[std::size_t{pair} * 2], 2);
    return dest + 2;
}

// The decimal text of every number below 1000, padded to four bytes with
// its length last, so that it is written with one four-byte store (the store
// may run one byte past the number: callers have reserved a line's room).
struct short_number_text {
    char digits[3];
    std::uint8_t size;
};
constexpr std::array<short_number_text, 1000> make_short_number_texts() {
    std::array<short_number_text, 1000> texts{};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        short_number_text& t = texts[i];
        if (i >= 100) t.digits[t.size++] = static_cast<char>('0' + i / 100);
        if (i >= 10) t.digits[t.size++] = static_cast<char>('0' + i / 10 % 10);
        t.digits[t.size++] = static_cast<char>('0' + i % 10);
    }
    return texts;
}
inline constexpr std::array<short_number_text, 1000> short_number_texts = make_short_number_texts();
}  // namespace output_detail

// Writes the decimal text of `value` at `dest` (11 bytes at most) and
// returns the end. Data bytes, channels and most ticks are below 1000: those
// take a table lookup or two and no call.
inline char* format_int(char* dest, std::int32_t value) {
    auto magnitude = static_cast<std::uint32_t>(value);
    if (value < 0) {
        *dest++ = '-';
        magnitude = 0u - magnitude;
    }
    if (magnitude < 10) {
        *dest = static_cast<char>('0' + magnitude);
        return dest + 1;
    }
    if (magnitude < 100) return output_detail::put_pair(dest, magnitude);
    if (magnitude < 1000) {
        *dest = static_cast<char>('0' + magnitude / 100);
        return output_detail::put_pair(dest + 1, magnitude % 100);
    }
    return output_detail::format_large(dest, magnitude);
}

// A number below 1000, such as a data byte or a tick within a beat: a table
// entry instead of format_int's branches, which mispredict on values spread
// over one, two and three digits.
inline char* format_below_1000(char* dest, std::uint32_t value) {
    const output_detail::short_number_text& text = output_detail::short_number_texts[value];
    std::memcpy(dest, &text, sizeof text);
    return dest + text.size;
}

// A data byte (0 to 255).
inline char* format_byte(char* dest, int value) { return format_below_1000(dest, static_cast<unsigned>(value) & 0xFF); }

// 1 to 4 digits.
inline char* format_below_10000(char* dest, std::uint32_t value) {
    using output_detail::put_pair;
    if (value < 10) {
        *dest = static_cast<char>('0' + value);
        return dest + 1;
    }
    if (value < 100) return put_pair(dest, value);
    if (value < 1000) {
        *dest = static_cast<char>('0' + value / 100);
        return put_pair(dest + 1, value % 100);
    }
    return put_pair(put_pair(dest, value / 100), value % 100);
}

namespace output_detail {
// The four digits of every number below 10000, leading zeros included (40
// KB): the tick column's last four digits are one load and one store
// instead of two divisions and two pairs.
using four_digits = std::array<char, 4>;
constexpr std::array<four_digits, 10000> make_four_digit_table(std::size_t from = 0) {
    std::array<four_digits, 10000> table{};
    for (std::size_t i = from; i < table.size(); ++i) {
        table[i] = {static_cast<char>('0' + i / 1000), static_cast<char>('0' + i / 100 % 10),
                    static_cast<char>('0' + i / 10 % 10), static_cast<char>('0' + i % 10)};
    }
    return table;
}
#ifdef __EMSCRIPTEN__
// In WebAssembly the table is made as the module starts: shipped, it
// would be a fifth of the gzipped module that the page loads before it is
// ready. The volatile start keeps the compiler from folding it back into
// data.
inline std::array<four_digits, 10000> four_digit_table_made_at_start() {
    volatile std::size_t from = 0;
    return make_four_digit_table(from);
}
inline const std::array<four_digits, 10000> four_digit_table = four_digit_table_made_at_start();
#else
inline constexpr std::array<four_digits, 10000> four_digit_table = make_four_digit_table();
#endif
}  // namespace output_detail

// Exactly 4 digits, with leading zeros.
inline char* format_4(char* dest, std::uint32_t value) {
    std::memcpy(dest, &output_detail::four_digit_table[value], 4);
    return dest + 4;
}

// 1 to 5 digits, with no call (format_int calls out from 1000 up).
inline char* format_below_100000(char* dest, std::uint32_t value) {
    if (value < 10000) return format_below_10000(dest, value);
    *dest = static_cast<char>('0' + value / 10000);
    return format_4(dest + 1, value % 10000);
}

inline void put_int(std::int32_t value) { output_detail::cursor = format_int(output_detail::cursor, value); }

// The hot lines are assembled through a local pointer, which the compiler
// keeps in a register (stores through the global cursor would force it to
// reload after every byte written): take the line's room with output_line,
// append with the char* helpers, and hand the end back with output_commit.
inline char* output_line(std::size_t bytes) {
    output_reserve(bytes);
    return output_detail::cursor;
}
inline void output_commit(char* end) { output_detail::cursor = end; }
// For a run of lines assembled through one local pointer, with the room
// checked against the buffer's end rather than through the cursor: `p`
// itself while `bytes` more fit after it, else (the lines before handed
// on) the start of the emptied buffer.
inline char* output_line_after(char* p, std::size_t bytes) {
    if (static_cast<std::size_t>(output_detail::buffer + output_detail::buffer_size - p) >= bytes) return p;
    output_commit(p);
    output_flush();
    return output_detail::cursor;
}
template <std::size_t Capacity>
inline char* copy_fixed(char* dest, const padded_text<Capacity>& text) {
    std::memcpy(dest, text.text, Capacity);
    return dest + text.size;
}

// Two lowercase hex digits.
void put_hex2(unsigned byte);

// output_flush, then the stream's own flush: false when any write of the
// listing failed.
bool output_finish();

// Drops anything buffered and forgets earlier write errors, for in-process
// callers that convert one file after another.
void output_reset();

// The system's error number of the first failed write, or 0.
int output_write_error();

}  // namespace smfasm
