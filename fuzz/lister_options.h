// The lister's options from one fuzz input byte (bit 0 measures, 1 note
// names, 2 long formats, 3 no joining, 4-6 fold width, 7 the score form),
// shared by both fuzz targets.
#pragma once

#include <cstdint>

#include "api/convert.h"

namespace smfasm::fuzz {

inline lister_options options_from_byte(std::uint8_t byte) {
    constexpr std::int32_t fold_widths[8] = {0, 1, 14, 20, 25, 40, -3, 80};
    lister_options options;
    options.measure_mode = byte & 1;
    options.note_names = (byte >> 1) & 1;
    options.long_formats = (byte & 4) != 0;
    options.merge_sysex = (byte & 8) != 0 ? 0 : 1;
    options.fold_width = fold_widths[(byte >> 4) & 7];
    options.score = (byte & 0x80) != 0;
    return options;
}

}  // namespace smfasm::fuzz
