// Meta events whose listed line does not give their bytes back: a length
// that does not fit their kind, a KeySig mode above 1, a TimeSig exponent
// above 32. The lister lists them as usual values; a caller may warn.
#pragma once

#include <cstdint>

namespace smfasm {

struct inexact_meta_t {
    std::int32_t count = 0;  // in the file; the rest tells of the first
    std::int32_t track = 0;  // 1 for the first track
    std::int32_t time = 0;   // in ticks
    std::int32_t type = 0;
    std::int32_t length = 0;
    std::int32_t expected = 0;  // the length its kind has
    // The mode or exponent that cannot be listed, or -1 when the length is
    // what is wrong.
    std::int32_t value = -1;
};

// Pitch bends whose first data byte has its top bit set (a malformed file):
// the tick listing's one number cannot tell that byte's top bit from the
// second byte's lowest, so the line assembles to other bytes. The score
// form marks them and gives them back.
struct inexact_bend_t {
    std::int32_t count = 0;  // in the file; the rest tells of the first
    std::int32_t track = 0;  // 1 for the first track
    std::int32_t time = 0;   // in ticks
    std::int32_t low = 0;    // the first data byte
};

}  // namespace smfasm
