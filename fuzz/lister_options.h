// The lister's options from one fuzz input byte (bit 0 measures, 1 note
// names, 2 long formats, 3 no joining, 4-6 fold width), shared by both
// fuzz targets.
#pragma once

#include <cstdint>

#include "api/convert.h"

namespace smfasm::fuzz {

inline list_options lister_options(std::uint8_t byte) {
    constexpr std::int32_t fold_widths[8] = {0, 1, 14, 20, 25, 40, -3, 80};
    list_options options;
    options.measures = (byte & 1) != 0;
    options.note_names = (byte & 2) != 0;
    options.long_formats = (byte & 4) != 0;
    options.packets = (byte & 8) != 0;
    options.fold_width = fold_widths[(byte >> 4) & 7];
    return options;
}

}  // namespace smfasm::fuzz
