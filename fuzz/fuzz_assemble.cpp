// libFuzzer target for the assembler, in-process. The first byte's low bit
// picks what the rest is:
//   0: listing text, which must never crash or hang the assembler;
//   1: a MIDI file (after one byte of lister options). When it lists, its
//      reassembly must list the same again; the assembler may refuse it only
//      for a delta time past what a file can hold (2^28 ticks or more,
//      which only an overlong variable-length number gives).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/convert.h"
#include "fuzz/lister_options.h"

namespace {

using namespace smfasm;

// The listing of `file` under the options byte, or none when listing fails.
std::optional<std::string> list(const std::vector<unsigned char>& file, std::uint8_t options) {
    listing_result listed = list_bytes(file.data(), file.size(), fuzz::lister_options(options));
    if (listed.status != 0) return std::nullopt;
    return std::move(listed.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool midi = (data[0] & 1) != 0;
    if (!midi) {
        assembly_options options;
        options.packets = (data[0] & 2) != 0;
        options.running_status = (data[0] & 4) == 0;
        options.strict = (data[0] & 8) != 0;
        assemble_text(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), options, "fuzz.mtx");
        return 0;
    }
    const std::uint8_t lister_options = data[1];
    const std::vector<unsigned char> file(data + 2, data + size);
    const std::optional<std::string> first = list(file, lister_options);
    if (!first) return 0;

    assembly_options options;
    options.packets = (lister_options & 8) != 0;
    const assembly_result assembled = assemble_text(*first, options, "fuzz.mtx");
    if (assembled.errors != 0) {
        const std::string& said = assembled.text;
        std::size_t backwards = 0;
        for (std::size_t at = 0; (at = said.find(": time goes backwards:", at)) != std::string::npos; ++at) ++backwards;
        if (backwards == static_cast<std::size_t>(assembled.errors)) return 0;
        std::fprintf(stderr, "a listing that smfdis wrote was refused:\n%s\n%s", first->c_str(), said.c_str());
        std::abort();
    }
    const std::optional<std::string> second = list(assembled.bytes, lister_options);
    if (!second || *second != *first) {
        std::fprintf(stderr, "the reassembly lists differently:\n%s\n---\n%s", first->c_str(),
                     second ? second->c_str() : "(listing failed)");
        std::abort();
    }
    return 0;
}
