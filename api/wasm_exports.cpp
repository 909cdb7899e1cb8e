// The face as plain C functions for the WebAssembly module. JavaScript can
// pass only numbers, so it copies a MIDI file into memory allocated here,
// calls one conversion and reads the result through pointers and sizes
// until it calls smfasm_release or the next conversion. Listings are never
// held here whole: a listing being written goes to JavaScript in the
// output layer's blocks, and one being assembled comes from JavaScript in
// the reader's blocks, so the module's memory stays small however long
// the listing.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "api/convert.h"
#include "api/memory_stream.h"
#include "api/song_arrays.h"
#include "state/tables.h"

namespace {

using namespace smfasm;

// The last conversion's result. The module runs one conversion at a time.
struct last_result {
    std::vector<unsigned char> bytes;  // the MIDI file
    std::string messages;              // as the programs print them
    std::vector<assembly_message> collected;
    song_arrays song;
    // The song's header fields, then each array's address and length in
    // the order index.js reads them.
    std::vector<std::uint32_t> song_table;
};
last_result result;

void release() { result = last_result{}; }

// JavaScript asks only for indices below smfasm_message_count.
const assembly_message& message(int i) { return result.collected[static_cast<std::size_t>(i)]; }

// Hands a block of the listing to the JavaScript side, which keeps it.
EM_JS(void, take_listing_text, (const char* data, std::size_t size), { Module["onListingText"](data, size); });

ssize_t write_to_javascript(void*, const char* data, std::size_t size) {
    take_listing_text(data, size);
    return static_cast<ssize_t>(size);
}

// An array's address and length, as the module's 32-bit pointers.
template <class Column>
void add_column(std::vector<std::uint32_t>& table, const Column& column) {
    table.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(column.data())));
    table.push_back(static_cast<std::uint32_t>(column.size()));
}

// Any number does: reads of every descriptor come from the listing.
constexpr int listing_descriptor = 3;

}  // namespace

extern "C" {

// Flag bits of smfasm_list.
enum : int { list_measures = 1, list_note_names = 2, list_long_formats = 4, list_packets = 8, list_score = 16 };
// Flag bits of smfasm_assemble.
enum : int { assemble_packets = 1, assemble_no_running_status = 2, assemble_strict = 4 };

// Lists `size` bytes at `data`, handing the listing to onListingText;
// returns 0 when the file listed completely.
int smfasm_list(const unsigned char* data, std::size_t size, int flags, int fold_width) {
    release();
    // An empty file lists as nothing, and says so; fmemopen refuses an
    // empty buffer.
    if (size == 0) {
        result.messages = describe_not_midi(data, 0) + "\n";
        return 0;
    }
    lister_options options;
    options.measure_mode = (flags & list_measures) != 0 ? 1 : 0;
    options.note_names = (flags & list_note_names) != 0 ? 1 : 0;
    options.long_formats = (flags & list_long_formats) != 0;
    options.merge_sysex = (flags & list_packets) != 0 ? 0 : 1;
    options.fold_width = fold_width;
    options.score = (flags & list_score) != 0;
    memory_stream messages;
    // Only read through, never written: the cast is for fmemopen's signature.
    std::FILE* input = fmemopen(const_cast<unsigned char*>(data), size, "rb");
    std::FILE* output = fopencookie(nullptr, "w", {nullptr, write_to_javascript, nullptr, nullptr});
    int status = 1;
    std::string not_midi;
    if (input != nullptr && output != nullptr && messages.stream() != nullptr) {
        const stream_listing listed = list_stream(input, "input", output, messages.stream(), options);
        status = listed.status != 0 || listed.write_error != 0 ? 1 : 0;
        not_midi = listed.not_midi;
    } else if (messages.stream() != nullptr) {
        std::fputs("***Error: out of memory\n", messages.stream());
    }
    if (input != nullptr) std::fclose(input);
    if (output != nullptr) std::fclose(output);
    result.messages = messages.take();
    // What the lister calls garbage is, before any header, no MIDI file.
    if (!not_midi.empty()) result.messages = not_midi + "\n";
    return status;
}

// Assembles the listing that JavaScript hands the module through its one
// readable descriptor (web/listing_source.js), naming it `name` (a C
// string) in the messages; returns the number of errors.
int smfasm_assemble(int flags, const char* name) {
    release();
    assembly_options options;
    options.packets = (flags & assemble_packets) != 0;
    options.running_status = (flags & assemble_no_running_status) == 0;
    options.strict = (flags & assemble_strict) != 0;
    try {
        listing_reader reader(listing_descriptor);
        assembly_result assembled = assemble_listing(reader, options, name);
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

// The song's notes, tempos and bars as arrays (api/song_arrays.h); returns
// 0, or 1 when the file gave none and smfasm_messages says why. The arrays
// are read through smfasm_song_table.
int smfasm_song(const unsigned char* data, std::size_t size) {
    release();
    int status = 0;
    try {
        const std::string error = song_arrays_of(data, size, result.song);
        if (!error.empty()) {
            // Said as the lister says it when the file is no MIDI file at all.
            const bool midi = size >= 4 && data[0] == 'M' && data[1] == 'T' && data[2] == 'h' && data[3] == 'd';
            result.messages = midi ? error : describe_not_midi(data, size);
            status = 1;
        } else {
            result.messages = result.song.warning;
        }
    } catch (const std::bad_alloc&) {
        release();
        result.messages = "out of memory";
        status = 1;
    }
    const song_arrays& a = result.song;
    std::vector<std::uint32_t>& t = result.song_table;
    t = {static_cast<std::uint32_t>(a.format), static_cast<std::uint32_t>(a.division),
         static_cast<std::uint32_t>(a.tracks)};
    add_column(t, a.note_track);
    add_column(t, a.note_channel);
    add_column(t, a.note_key);
    add_column(t, a.note_velocity);
    add_column(t, a.note_start);
    add_column(t, a.note_length);
    add_column(t, a.off_track);
    add_column(t, a.off_channel);
    add_column(t, a.off_key);
    add_column(t, a.off_tick);
    add_column(t, a.program_track);
    add_column(t, a.program_channel);
    add_column(t, a.program_tick);
    add_column(t, a.program);
    add_column(t, a.tempo_tick);
    add_column(t, a.tempo_micros);
    add_column(t, a.bar_track);
    add_column(t, a.bar_number);
    add_column(t, a.bar_tick);
    add_column(t, a.bar_numerator);
    add_column(t, a.bar_denominator);
    add_column(t, a.bar_ticks_per_beat);
    return status;
}

const std::uint32_t* smfasm_song_table() { return result.song_table.data(); }
double smfasm_song_end_tick() { return result.song.end_tick; }

// The MIDI file's bytes of the last assembly.
const unsigned char* smfasm_output() { return result.bytes.data(); }
std::size_t smfasm_output_size() { return result.bytes.size(); }

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

// The names of keys 0 to 127 as the listings write them, each behind a
// line end ("c0\nc#0\n..."), ending in a zero byte: a page that writes or
// labels a note spells it from the lister's own table.
const char* smfasm_note_names() {
    static const std::string names = [] {
        std::string text;
        for (std::size_t key = 0; key < 128; ++key) {
            text.append(named_notes[key].view());
            text.push_back('\n');
        }
        return text;
    }();
    return names.c_str();
}

// Frees the last result, once JavaScript has copied it out.
void smfasm_release() { release(); }
}
