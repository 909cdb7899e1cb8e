// libFuzzer target for the assembler, in-process. The first byte's low bit
// picks what the rest is:
//   0: listing text, which must never crash or hang the assembler;
//   1: a MIDI file (after one byte of lister options). When it lists, its
//      reassembly must list the same again; the assembler may refuse it only
//      for a delta time past what a file can hold (2^28 ticks or more,
//      which only an overlong variable-length number gives), and may give
//      the header the count of the tracks there are (a 0-byte file lists
//      as nothing, which is no listing to assemble).
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

std::FILE* null_stream() {
    static std::FILE* stream = std::fopen("/dev/null", "w");
    return stream;
}

// The listing of `file` under the options byte, or none when listing fails.
std::optional<std::string> list(const std::vector<unsigned char>& file, std::uint8_t options) {
    listing_result listed = list_bytes(file.data(), file.size(), fuzz::options_from_byte(options));
    if (listed.status != 0) return std::nullopt;
    return std::move(listed.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool midi = (data[0] & 1) != 0;
    if (!midi) {
        listing_reader reader(reinterpret_cast<const char*>(data + 1), size - 1);
        memory_sink sink;
        assembly_options options;
        options.packets = (data[0] & 2) != 0;
        options.running_status = (data[0] & 4) == 0;
        options.strict = (data[0] & 8) != 0;
        // Messages formatted, or kept as data only.
        std::vector<assembly_message> said;
        assemble(reader, "fuzz.mtx", options, sink, (data[0] & 16) != 0 ? nullptr : null_stream(), &said);
        return 0;
    }
    const std::uint8_t lister_options = data[1];
    const std::vector<unsigned char> file(data + 2, data + size);
    const std::optional<std::string> first = list(file, lister_options);
    if (!first || first->empty()) return 0;

    assembly_options options;
    options.packets = (lister_options & 8) != 0;
    const assembly_result assembled = assemble_text(*first, options, "fuzz.mtx");
    for (const assembly_message& m : assembled.messages) {
        const bool gap = m.text.starts_with("time goes backwards") || m.text.find("in one step") != std::string::npos;
        if (!m.warning && !gap) {
            std::fprintf(stderr, "a listing that smfdis wrote was refused:\n%s\n%lld:%lld: %s\n", first->c_str(),
                         m.line, m.column, m.text.c_str());
            std::abort();
        }
    }
    if (assembled.errors != 0) return 0;
    const std::optional<std::string> second = list(assembled.bytes, lister_options);
    // A recounted header lists the count of its tracks; the rest is the
    // same: the MFile line without its count, then every other line.
    const auto body = [](const std::string& listing) {
        const std::size_t count = listing.find(' ', listing.find(' ') + 1) + 1;
        return listing.substr(0, count) + listing.substr(listing.find_first_of(" \n", count));
    };
    if (!second || body(*second) != body(*first)) {
        std::fprintf(stderr, "the reassembly lists differently:\n%s\n---\n%s", first->c_str(),
                     second ? second->c_str() : "(listing failed)");
        std::abort();
    }
    return 0;
}
