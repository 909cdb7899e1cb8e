#include "writer/output.h"

#include <array>
#include <cerrno>
#include <cstdio>

#include "state/state.h"

namespace midi2mtx {

namespace output_detail {
char buffer[buffer_size];
char* cursor = buffer;

void drain() { output_flush(); }
}  // namespace output_detail

namespace {

constexpr std::array<char, 200> make_digit_pairs() {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}
constexpr std::array<char, 200> digit_pairs = make_digit_pairs();

constexpr char hex_digits[] = "0123456789abcdef";

}  // namespace

char* format_int(char* dest, std::int32_t value) {
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    if (value < 0) {
        *dest++ = '-';
        magnitude = 0u - magnitude;
    }
    char digits[10];
    char* const end = digits + sizeof digits;
    char* p = end;
    while (magnitude >= 100) {
        const std::uint32_t pair = (magnitude % 100) * 2;
        magnitude /= 100;
        p -= 2;
        p[0] = digit_pairs[pair];
        p[1] = digit_pairs[pair + 1];
    }
    if (magnitude >= 10) {
        p -= 2;
        p[0] = digit_pairs[magnitude * 2];
        p[1] = digit_pairs[magnitude * 2 + 1];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    const auto count = static_cast<std::size_t>(end - p);
    std::memcpy(dest, p, count);
    return dest + count;
}

void put_hex2(unsigned byte) {
    put_char(hex_digits[(byte >> 4) & 0xF]);
    put_char(hex_digits[byte & 0xF]);
}

namespace {
int first_write_error = 0;

bool note_failure() {
    if (first_write_error == 0) first_write_error = errno;
    return false;
}
}  // namespace

bool output_flush() {
    using namespace output_detail;
    const auto pending = static_cast<std::size_t>(cursor - buffer);
    cursor = buffer;
    if (state.output == nullptr) return true;
    if (pending != 0 && std::fwrite(buffer, 1, pending, state.output) != pending) return note_failure();
    return std::ferror(state.output) == 0;
}

bool output_finish() {
    const bool flushed = output_flush();
    if (state.output != nullptr && std::fflush(state.output) != 0) return note_failure();
    return flushed && (state.output == nullptr || std::ferror(state.output) == 0);
}

void output_reset() {
    output_detail::cursor = output_detail::buffer;
    first_write_error = 0;
}

int output_write_error() { return first_write_error; }

}  // namespace midi2mtx
