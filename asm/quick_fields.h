// The quick reader's pieces: numbers, note names and a channel line's
// words exactly as the lister writes them, read straight from the listing's
// bytes. Each says "not mine" (-1, or false) for anything else, and the
// general reader then reads the line again and words what is wrong.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "asm/assembly.h"
#include "asm/channel_heads.h"
#include "asm/fields.h"
#include "asm/keyword_table.h"
#include "state/tables.h"

namespace smfasm::assembly::quick {

inline bool is_digit(char c) { return static_cast<unsigned>(c - '0') < 10; }

// A number of at most `digits` digits at p, moved past them; -1 when there
// are none or more.
[[gnu::always_inline]] inline std::int64_t number(const char*& p, int digits) {
    // One to three digits, the size of nearly every value, without a loop.
    const unsigned d0 = static_cast<unsigned char>(p[0]) - unsigned{'0'};
    if (d0 > 9) return -1;
    const unsigned d1 = static_cast<unsigned char>(p[1]) - unsigned{'0'};
    if (d1 > 9) {
        p += 1;
        return d0;
    }
    const unsigned d2 = static_cast<unsigned char>(p[2]) - unsigned{'0'};
    if (d2 > 9) {
        p += 2;
        return digits >= 2 ? d0 * 10 + d1 : -1;
    }
    if (static_cast<unsigned>(static_cast<unsigned char>(p[3]) - unsigned{'0'}) > 9) {
        p += 3;
        return digits >= 3 ? d0 * 100 + d1 * 10 + d2 : -1;
    }
    const char* q = p;
    std::uint64_t value = 0;
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) < 10 && q - p <= digits; ++q) {
        value = value * 10 + d;
    }
    const std::ptrdiff_t count = q - p;
    p = q;
    return count > digits ? -1 : static_cast<std::int64_t>(value);
}

// A data byte (0 to 127) of one to three digits, moved past; -1 otherwise.
// Found and converted four bytes at a time: how many digits a value has is
// as hard to foresee as the values, and a branch on it costs more than the
// arithmetic.
[[gnu::always_inline]] inline int data_byte(const char*& p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t values;
        std::memcpy(&values, p, sizeof values);
        values ^= 0x30303030u;  // digits become 0 to 9
        const std::uint32_t others = ((values + 0x76767676u) | values) & 0x80808080u;
        const unsigned count = static_cast<unsigned>(std::countr_zero(others)) / 8;  // 4 when all are digits
        if (count - 1 > 2) return -1;
        // The digits moved up against the third byte, zeros before them:
        // hundreds, tens and ones in bytes 0 to 2.
        const std::uint64_t digits = ((std::uint64_t{values} << (32 - 8 * count)) & 0xFFFFFFFFu) >> 8;
        const auto value = static_cast<unsigned>((digits * 0x640A01u) >> 16) & 0xFFu;
        if ((digits & 0xFFu) > 1 || value > 127) return -1;
        p += count;
        return static_cast<int>(value);
    }
    const unsigned d0 = static_cast<unsigned char>(p[0]) - unsigned{'0'};
    if (d0 > 9) return -1;
    const unsigned d1 = static_cast<unsigned char>(p[1]) - unsigned{'0'};
    if (d1 > 9) {
        p += 1;
        return static_cast<int>(d0);
    }
    const unsigned d2 = static_cast<unsigned char>(p[2]) - unsigned{'0'};
    if (d2 > 9) {
        p += 2;
        return static_cast<int>(d0 * 10 + d1);
    }
    const unsigned value = d0 * 100 + d1 * 10 + d2;
    if (value > 127 || is_digit(p[3])) return -1;
    p += 3;
    return static_cast<int>(value);
}

// The number that eight digits make, each byte of `values` one of them
// (0 to 9), the first in the lowest byte: combined in pairs, fours and
// eights.
[[gnu::always_inline]] inline std::uint64_t eight_digits(std::uint64_t values) {
    values = values * 10 + (values >> 8);
    return ((values & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
            ((values >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
           32;
}

// The same for the time column's longer numbers: up to eight digits are
// found and converted eight bytes at a time (the reader keeps room behind
// every line for such a load).
[[gnu::always_inline]] inline std::int64_t long_number(const char*& p, int digits) {
    if constexpr (std::endian::native != std::endian::little) return number(p, digits);
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    std::uint64_t values = chunk ^ 0x3030303030303030u;  // digits become 0 to 9
    const std::uint64_t others = ((values + 0x7676767676767676u) | values) & 0x8080808080808080u;
    // Eight digits fill the load: the byte behind them must end the number.
    if (others != 0 || !is_digit(p[8])) {
        const int count = others != 0 ? std::countr_zero(others) / 8 : 8;  // little-endian: the first byte is lowest
        if (count == 0 || count > digits) return -1;
        p += count;
        // Shifted to the top with zero digits in front.
        if (count < 8) values <<= 64 - 8 * count;
        return static_cast<std::int64_t>(eight_digits(values));
    }
    return number(p, digits);
}

// "-123" or "123" as a 32-bit time part.
[[gnu::always_inline]] inline bool time_part(const char*& p, std::int32_t& part) {
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    const std::int64_t value = long_number(p, 10);
    if (value < 0 || value > (negative ? std::int64_t{1} << 31 : INT32_MAX)) return false;
    part = static_cast<std::int32_t>(negative ? -value : value);
    return true;
}

// The tick form's time column in ticks: up to seven digits, nearly every
// time there is, read eight bytes at a time without a check that only
// longer numbers need; anything else as time_part reads it.
[[gnu::always_inline]] inline bool tick_time(const char*& p, std::int32_t& time) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t values;
        std::memcpy(&values, p, sizeof values);
        values ^= 0x3030303030303030u;
        const std::uint64_t others = ((values + 0x7676767676767676u) | values) & 0x8080808080808080u;
        if (others != 0 && (others & 0x80) == 0) {
            const int count = std::countr_zero(others) / 8;
            p += count;
            time = static_cast<std::int32_t>(eight_digits(values << (64 - 8 * count)));
            return true;
        }
    }
    return time_part(p, time);
}

[[gnu::always_inline]] inline bool label(const char*& p, const packed_label& label) {
    if ((load8(p) & label.mask) != label.key) return false;
    p += label.size;
    return true;
}

// A note name as the score form's lister writes it ("c#4", "a10"): its
// number, with p moved past it; or -1 for any other spelling, which the
// general reader reads.
[[gnu::always_inline]] inline std::int64_t note_name(const char*& p) {
    const auto letter = static_cast<unsigned char>(p[0]);
    int index = letter < note_letter_index.size() ? note_letter_index[letter] : -1;
    if (index < 0) return -1;
    // Sharp or not, without a branch: the music decides.
    const int sharp = p[1] == '#' ? 1 : 0;
    index += sharp;
    const char* q = p + 1 + sharp;
    const unsigned d0 = static_cast<unsigned char>(q[0]) - unsigned{'0'};
    if (d0 > 9) return -1;
    const unsigned d1 = static_cast<unsigned char>(q[1]) - unsigned{'0'};
    unsigned octave = d0;
    if (d1 <= 9) {
        octave = d0 * 10 + d1;
        ++q;
        if (is_digit(q[1])) return -1;
    }
    p = q + 1;
    return static_cast<std::int64_t>(octave) * 12 + index;
}

// A delta time at `out`, as put_vlq writes it; returns its end. One or
// two bytes, nearly every delta there is, are written without a branch
// that the mix of short and long steps would make hard to foresee; the
// byte behind may be written over.
[[gnu::always_inline]] inline unsigned char* put_delta(unsigned char* out, std::uint32_t value) {
    if (value >= 0x4000) [[unlikely]]
        return put_vlq(out, value);
    const bool two = value >= 0x80;
    out[0] = static_cast<unsigned char>(two ? (0x80 | value >> 7) : value);
    out[1] = static_cast<unsigned char>(value & 0x7F);
    return out + 1 + (two ? 1 : 0);
}

// The end of a plain line: "\n" or "\r\n". The next line's start, or null.
[[gnu::always_inline]] inline const char* line_end(const char* p) {
    if (*p == '\n') return p + 1;
    if (*p == '\r' && p[1] == '\n') return p + 2;
    return nullptr;
}

// What channel_fields reads.
struct channel_values {
    std::size_t slot = 0;
    int status = 0;
    int channel = 0;
    int first = 0;
    int second = -1;  // none
    bool note = false;
};

// The fields after a channel line's time column: the head (keyword and
// " ch="; in the score form also Note), the channel and the values, each a
// data byte. Returns where the values end, or null. `set` is the format set
// whose labels matched last: a listing keeps to one, so it is tried first.
template <bool Score>
[[gnu::always_inline]] inline const char* channel_fields(const char* p, std::size_t& set, channel_values& values) {
    const std::array<channel_heads, 2>& heads = Score ? score_heads : tick_heads;
    const channel_head* head = heads[set].find(p);
    if (head == nullptr) return nullptr;
    const char* const start = p;
    p += head->size;
    const std::size_t slot = head->slot;
    unsigned channel = static_cast<unsigned char>(p[0]) - unsigned{'0'};
    if (channel > 9) return nullptr;
    // One digit or two, without a branch.
    const unsigned digit = static_cast<unsigned char>(p[1]) - unsigned{'0'};
    const bool two = digit <= 9;
    channel = two ? channel * 10 + digit : channel;
    p += two ? 2 : 1;
    if (channel - 1 > 15) return nullptr;
    // Each label takes its blank with it.
    if (!label(p, head->second)) {
        set = 1 - set;
        head = heads[set].find(start);
        if (!label(p, head->second)) return nullptr;
    }
    int first = 0;
    int second = -1;
    if (names_a_note(slot)) {
        if (is_digit(*p)) {
            first = data_byte(p);
        } else if constexpr (Score) {
            // The lister names the notes of the score form, as it spells them.
            first = static_cast<int>(note_name(p));
        } else {
            // A copy, so that the scan pointer's address never escapes and
            // it stays in a register.
            const char* name = p;
            first = read_note_name(name);
            p = name;
        }
        if (first < 0 || first > 127) return nullptr;
    } else if (slot == slot_pitch_bend) {
        const std::int64_t value = number(p, 5);
        if (value < 0 || value > largest_data_bend) return nullptr;
        const bend_bytes bend = split_bend(value);
        first = bend.low;
        second = bend.high;
    } else {
        first = data_byte(p);
        if (first < 0) return nullptr;
    }
    if (head->third.size != 0) {
        if (!label(p, head->third)) return nullptr;
        second = data_byte(p);
        if (second < 0) return nullptr;
    }
    values.slot = slot;
    values.status = head->status | static_cast<int>(channel - 1);
    values.channel = static_cast<int>(channel);
    values.first = first;
    values.second = second;
    values.note = head->note;
    return p;
}

}  // namespace smfasm::assembly::quick
