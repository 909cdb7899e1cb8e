// The output layer: every byte of the listing passes through here.
//
// Lines are assembled in one large buffer and handed to the output stream in
// big blocks, so the per-event cost is a few stores instead of a stdio call.
// Callers reserve room first (output_reserve) and then append without checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace midi2mtx {

namespace output_detail {
inline constexpr std::size_t buffer_size = 256 * 1024;
extern char buffer[buffer_size];
extern char* cursor;
void drain();
}  // namespace output_detail

// Room that any single line of fixed fields fits in.
inline constexpr std::size_t line_reserve = 160;

// Makes sure `bytes` (at most a line's worth) can be appended.
inline void output_reserve(std::size_t bytes) {
    using namespace output_detail;
    if (static_cast<std::size_t>(buffer + buffer_size - cursor) < bytes) drain();
}

inline void put_char(char c) { *output_detail::cursor++ = c; }

inline void put_text(std::string_view text) {
    std::memcpy(output_detail::cursor, text.data(), text.size());
    output_detail::cursor += text.size();
}

// Writes the decimal text of `value` at `dest` (11 bytes at most) and
// returns the end.
char* format_int(char* dest, std::int32_t value);

inline void put_int(std::int32_t value) { output_detail::cursor = format_int(output_detail::cursor, value); }

// Two lowercase hex digits.
void put_hex2(unsigned byte);

// Hands everything buffered to `state.output` (dropped when there is none).
// Returns false when the stream has met a write error.
bool output_flush();

// output_flush, then the stream's own flush: false when any write of the
// listing failed.
bool output_finish();

// Drops anything buffered and forgets earlier write errors, for in-process
// callers that convert one file after another.
void output_reset();

// The system's error number of the first failed write, or 0.
int output_write_error();

}  // namespace midi2mtx
