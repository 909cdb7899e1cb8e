#include "writer/output.h"

#include <array>
#include <cerrno>
#include <cstdio>

#include "state/state.h"

namespace smfasm {

namespace output_detail {
char buffer[buffer_size];
char* cursor = buffer;
}  // namespace output_detail

namespace {
constexpr char hex_digits[] = "0123456789abcdef";
}  // namespace

// Divisions by constants only, and no loop: the time column calls this for
// nearly every line.
char* output_detail::format_large(char* dest, std::uint32_t value) {
    if (value < 10000) return format_below_10000(dest, value);
    if (value < 100000000) return format_4(format_below_10000(dest, value / 10000), value % 10000);
    const std::uint32_t low = value % 100000000;
    dest = format_below_10000(dest, value / 100000000);
    return format_4(format_4(dest, low / 10000), low % 10000);
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

}  // namespace smfasm
