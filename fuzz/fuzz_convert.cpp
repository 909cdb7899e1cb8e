// libFuzzer target: the real reader and writer, in-process, over the bytes
// of a MIDI file. The first byte picks the options; the listing goes to
// /dev/null through the face's stream entry, as the program's does.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "api/convert.h"
#include "fuzz/lister_options.h"

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
    const list_options options = fuzz::lister_options(data[0]);
    std::FILE* input = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
    if (input == nullptr) return 0;
    list_stream(input, "fuzz.mid", sink(), sink(), options);
    std::fclose(input);
    return 0;
}
