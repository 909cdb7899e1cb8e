// The assembler's half of the face: listing text in memory to the file's
// bytes in memory, with the messages both as the program prints them and
// as data.
#include "api/convert.h"
#include "api/memory_stream.h"
#include "asm/listing_reader.h"

namespace smfasm {

namespace {

struct memory_sink : byte_sink {
    std::vector<unsigned char>& bytes;
    explicit memory_sink(std::vector<unsigned char>& into) : bytes(into) {}
    void write(const unsigned char* data, std::size_t size) override { bytes.insert(bytes.end(), data, data + size); }
};

}  // namespace

namespace {

assembly_result assemble_from(listing_reader& reader, const assembly_options& options, const char* name) {
    assembly_result result;
    memory_stream messages;
    if (messages.stream() == nullptr) {
        result.errors = 1;
        result.text = std::string(name) + ": no memory for the messages\n";
        return result;
    }
    memory_sink sink(result.bytes);
    result.errors = assemble(reader, name, options, sink, messages.stream(), &result.messages);
    result.text = messages.take();
    if (result.errors != 0) result.bytes.clear();
    return result;
}

}  // namespace

assembly_result assemble_text(std::string_view listing, const assembly_options& options, const char* name) {
    listing_reader reader(listing.data(), listing.size());
    return assemble_from(reader, options, name);
}

assembly_result assemble_in_place(char* listing, std::size_t size, const assembly_options& options, const char* name) {
    listing_reader reader(listing_reader::in_place{}, listing, size);
    return assemble_from(reader, options, name);
}

}  // namespace smfasm
