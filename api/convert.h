// Both directions in one small face, for every caller: the programs, the
// in-process tests, the fuzzers and the WebAssembly module. Options are plain
// records and results carry the messages, so a caller needs to know nothing
// of the conversion state, the output layer or the exit path.
//
// One conversion at a time per process: the lister keeps its state in one
// record and one output buffer, so two listings may not run at once (from
// threads, or from a stream callback of another listing). The assembler
// keeps none, but the rule is simpler kept for both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "asm/assembler.h"
#include "state/inexact_meta.h"

namespace smfasm {

// The lister's choices as its flag letters set them (app/options.h reads
// the letters): -b, -t and -n count, as the command line does; -fN sets the
// fold width (0 never folds); -m clears merge_sysex; -v the long formats.
struct lister_options {
    std::int32_t fold_width = 0;
    std::int32_t note_names = 0;
    std::int32_t measure_mode = 0;
    std::int32_t merge_sysex = 1;
    bool long_formats = false;
    // The score form: notes with lengths at bar:beat:tick (measure_mode and
    // note_names then have no effect: the form has its own time column and
    // always names notes).
    bool score = false;
};

// How a listing into a stream ended.
struct stream_listing {
    // 0 when the file listed completely; 1 when an error in the file (or in
    // reading it) stopped the listing, which `messages` has been told and
    // which `output` holds as far as it got.
    int status = 0;
    // errno of the first failed write to `output`, or 0. It is not reported:
    // each program words that itself.
    int write_error = 0;
    // What the header announced against what the file held, for a complete
    // listing; both 0 when there was no header.
    std::int32_t tracks_announced = 0;
    std::int32_t tracks_found = 0;
    // Bytes of a chunk tag the input ended inside, or 0.
    std::int32_t partial_tag_length = 0;
    // For input that is no MIDI file (it does not start with a header
    // chunk, or it is empty): what it is instead, as "not a MIDI file: ...";
    // empty for a MIDI file.
    std::string not_midi;
    // Meta events listed, as far as the listing got, with lines that do not
    // give their bytes back.
    inexact_meta_t inexact;
    // Pitch bends, likewise.
    inexact_bend_t inexact_bend;
};

// Lists `input` into `output` with the conversion's messages going to
// `messages`, at disk speed and in constant memory. Nothing may have been
// read from `input` through stdio before (it is read through its descriptor
// when it has one). Closes neither stream; `input_name` names the input in
// read errors.
stream_listing list_stream(std::FILE* input, const char* input_name, std::FILE* output, std::FILE* messages,
                           const lister_options& options);

// "not a MIDI file: ..." for input that starts with these bytes (none: an
// empty file), saying what it looks like instead.
std::string describe_not_midi(const unsigned char* bytes, std::size_t length);

struct listing_result {
    std::string text;
    std::string messages;  // the lister's own, as smfdis says them
    std::string not_midi;  // as stream_listing::not_midi
    int status = 0;        // as stream_listing::status
};

// Lists a whole file held in memory.
listing_result list_bytes(const unsigned char* data, std::size_t size, const lister_options& options);

struct assembly_result {
    std::vector<unsigned char> bytes;  // the MIDI file; empty unless errors is 0
    std::string text;                  // the messages as the program prints them
    std::vector<assembly_message> messages;
    int errors = 0;
};

// Assembles listing text held in memory; `name` stands for the listing in
// the messages. The stream-level entry, which writes the file to a byte
// sink of the caller's, is assemble() itself.
assembly_result assemble_text(std::string_view listing, const assembly_options& options, const char* name);

// The same from any listing reader, such as one reading a descriptor in
// blocks: the listing need never be in memory whole.
assembly_result assemble_listing(listing_reader& reader, const assembly_options& options, const char* name);

}  // namespace smfasm
