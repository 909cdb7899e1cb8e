// The assembler's half of the face: listing text in memory to the file's
// bytes in memory, with the messages both as the program prints them and
// as data.
#include <cstring>
#include <utility>

#include "api/convert.h"
#include "api/memory_stream.h"
#include "asm/listing_reader.h"

namespace smfasm {

assembly_result assemble_listing(listing_reader& reader, const assembly_options& options, const char* name) {
    assembly_result result;
    memory_stream messages;
    if (messages.stream() == nullptr) {
        result.errors = 1;
        result.text = std::string(name) + ": no memory for the messages\n";
        return result;
    }
    memory_sink sink;
    result.errors = assemble(reader, name, options, sink, messages.stream(), &result.messages);
    result.bytes = std::move(sink.bytes);
    result.text = messages.take();
    // A listing cut short by a read error may still assemble: never into a file.
    if (reader.read_error() != 0) {
        const std::string text = std::string("error reading the listing: ") + std::strerror(reader.read_error());
        result.messages.push_back({false, 0, 0, text});
        result.text += std::string(name) + ": " + text + "\n";
        ++result.errors;
    }
    if (result.errors != 0) result.bytes.clear();
    return result;
}

assembly_result assemble_text(std::string_view listing, const assembly_options& options, const char* name) {
    listing_reader reader(listing.data(), listing.size());
    return assemble_listing(reader, options, name);
}

}  // namespace smfasm
