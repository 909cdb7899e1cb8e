// The face as plain C functions for the WebAssembly module: JavaScript can
// pass only numbers, so it copies the input into memory it allocates here,
// calls one conversion, and reads the result through pointers and sizes
// until it calls smfasm_release or the next conversion.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "api/convert.h"

namespace {

using namespace smfasm;

// The last conversion's result. The module runs one conversion at a time.
struct last_result {
    std::string text;                  // the listing, or no text
    std::vector<unsigned char> bytes;  // the MIDI file, or no bytes
    std::string messages;              // as the programs print them
    std::vector<assembly_message> collected;
};
last_result result;

void release() { result = last_result{}; }

// JavaScript asks only for indices below smfasm_message_count.
const assembly_message& message(int i) { return result.collected[static_cast<std::size_t>(i)]; }

}  // namespace

extern "C" {

// Flag bits of smfasm_list.
enum : int { list_measures = 1, list_note_names = 2, list_long_formats = 4, list_packets = 8 };
// Flag bits of smfasm_assemble.
enum : int { assemble_packets = 1, assemble_no_running_status = 2, assemble_strict = 4 };

// Lists `size` bytes at `data`; returns 0 when the file listed completely.
int smfasm_list(const unsigned char* data, std::size_t size, int flags, int fold_width) {
    release();
    list_options options;
    options.measures = (flags & list_measures) != 0;
    options.note_names = (flags & list_note_names) != 0;
    options.long_formats = (flags & list_long_formats) != 0;
    options.packets = (flags & list_packets) != 0;
    options.fold_width = fold_width;
    try {
        listing_result listed = list_bytes(data, size, options);
        result.text = std::move(listed.text);
        result.messages = std::move(listed.messages);
        return listed.status;
    } catch (const std::bad_alloc&) {
        release();
        result.messages = "***Error: out of memory\n";
        return 1;
    }
}

// Assembles `size` bytes of listing text at `text`, naming the listing
// `name` (a C string) in the messages; returns the number of errors.
int smfasm_assemble(const char* text, std::size_t size, int flags, const char* name) {
    release();
    assembly_options options;
    options.packets = (flags & assemble_packets) != 0;
    options.running_status = (flags & assemble_no_running_status) == 0;
    options.strict = (flags & assemble_strict) != 0;
    try {
        assembly_result assembled = assemble_text(std::string_view(text, size), options, name);
        result.bytes = std::move(assembled.bytes);
        result.messages = std::move(assembled.text);
        result.collected = std::move(assembled.messages);
        return assembled.errors;
    } catch (const std::bad_alloc&) {
        release();
        result.messages = std::string(name) + ": out of memory\n";
        result.collected.push_back({false, 0, 0, "out of memory"});
        return 1;
    }
}

// The listing, or the MIDI file's bytes, of the last conversion.
const void* smfasm_output() {
    return result.bytes.empty() ? static_cast<const void*>(result.text.data()) : result.bytes.data();
}
std::size_t smfasm_output_size() { return result.bytes.empty() ? result.text.size() : result.bytes.size(); }

const char* smfasm_messages() { return result.messages.data(); }
std::size_t smfasm_messages_size() { return result.messages.size(); }

// The assembler's messages as data; lines and columns are doubles because
// JavaScript numbers are.
int smfasm_message_count() { return static_cast<int>(result.collected.size()); }
int smfasm_message_warning(int i) { return message(i).warning ? 1 : 0; }
double smfasm_message_line(int i) { return static_cast<double>(message(i).line); }
double smfasm_message_column(int i) { return static_cast<double>(message(i).column); }
const char* smfasm_message_text(int i) { return message(i).text.data(); }
std::size_t smfasm_message_text_size(int i) { return message(i).text.size(); }

// Frees the last result, once JavaScript has copied it out.
void smfasm_release() { release(); }
}
