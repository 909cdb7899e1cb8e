// What both fuzz targets do before listing in-process: a fresh state whose
// fatal errors unwind, and the lister's options from one input byte (bit 0
// measures, 1 note names, 2 long formats, 3 no joining, 4-6 fold width).
#pragma once

#include <cstdint>

#include "app/exit.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"

namespace smfasm::fuzz {

struct run_stopped {};

[[noreturn]] inline void unwind(int) { throw run_stopped{}; }

inline void start_listing(std::uint8_t options) {
    constexpr std::int32_t fold_widths[8] = {0, 1, 14, 20, 25, 40, -3, 80};
    reset_state();
    output_reset();
    set_exit_handler(unwind);
    state.measure_mode = options & 1;
    state.note_names = (options >> 1) & 1;
    state.channel_formats = (options & 4) != 0 ? &long_channel_formats : &short_channel_formats;
    state.merge_sysex = (options & 8) != 0 ? 0 : 1;
    state.fold_width = fold_widths[(options >> 4) & 7];
    state.input_name = "fuzz.mid";
}

}  // namespace smfasm::fuzz
