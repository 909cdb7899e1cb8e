// libFuzzer target: the real reader and writer, in-process, over the bytes
// of a MIDI file. The first byte picks the options; a fatal error unwinds
// back here through the exit handler instead of ending the process.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "app/exit.h"
#include "reader/reader.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"

namespace {

struct run_stopped {};

[[noreturn]] void unwind(int) { throw run_stopped{}; }

constexpr std::int32_t fold_widths[8] = {0, 1, 14, 20, 25, 40, -3, 80};

std::FILE* sink() {
    static std::FILE* null_output = std::fopen("/dev/null", "w");
    return null_output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace smfasm;
    // The first byte is the options; fmemopen refuses an empty buffer, and
    // the empty file is the unit tests' business.
    if (size < 2) return 0;
    const std::uint8_t options = data[0];
    ++data;
    --size;

    reset_state();
    output_reset();
    set_exit_handler(unwind);
    state.measure_mode = options & 1;
    state.note_names = (options >> 1) & 1;
    state.channel_formats = (options & 4) != 0 ? &long_channel_formats : &short_channel_formats;
    state.merge_sysex = (options & 8) != 0 ? 0 : 1;
    state.fold_width = fold_widths[(options >> 4) & 7];
    state.output = sink();
    state.input_name = "fuzz.mid";
    state.input = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (state.input == nullptr) return 0;
    try {
        convert_file();
        output_finish();
    } catch (const run_stopped&) {
    }
    std::fclose(state.input);
    state.input = nullptr;
    return 0;
}
