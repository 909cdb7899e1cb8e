// libFuzzer target: the real reader and writer, in-process, over the bytes
// of a MIDI file. The first byte picks the options; a fatal error unwinds
// back here through the exit handler instead of ending the process.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz/lister_options.h"
#include "reader/reader.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"

namespace {

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

    fuzz::start_listing(options);
    state.output = sink();
    state.input = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (state.input == nullptr) return 0;
    try {
        convert_file();
        output_finish();
    } catch (const fuzz::run_stopped&) {
    }
    std::fclose(state.input);
    state.input = nullptr;
    return 0;
}
