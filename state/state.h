// The one record of run-wide state shared by the reader and the writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "state/inexact_meta.h"
#include "state/tables.h"

namespace smfasm {

// Growable storage for the payload of the current event, or of the
// system-exclusive message being joined. Never shrinks.
struct message_buffer_t {
    unsigned char* storage = nullptr;
    std::int32_t capacity = 0;
    std::int32_t length = 0;
};

struct conversion_state {
    // Options (set by the command line).
    std::int32_t fold_width = 0;
    std::int32_t note_names = 0;
    std::int32_t measure_mode = 0;
    std::int32_t merge_sysex = 1;
    const channel_format_set* channel_formats = &short_channel_formats;
    // The score form: notes with lengths at bar:beat:tick, each track held
    // whole before it is written.
    std::int32_t score_form = 0;

    // Streams, owned by the driver; the input name is kept for read errors.
    std::FILE* input = nullptr;
    std::FILE* output = nullptr;
    // Where the conversion's own messages go (errors met while reading the
    // file); in-memory callers give a stream of their own.
    std::FILE* messages = stderr;
    const char* input_name = "";

    // Reader position.
    std::int32_t chunk_remaining = 0;
    std::int32_t current_time = 0;
    message_buffer_t message_buffer;
    // Bytes of a chunk tag that the input ended inside (a cut file): the
    // listing then looks complete but is not; smfdis stays silent on it.
    std::int32_t partial_tag_length = 0;
    // A file that does not start with a header chunk: its first bytes, for
    // a message that says what it is instead (smfdis keeps its own).
    unsigned char first_bytes[16] = {};
    std::int32_t first_bytes_length = 0;
    bool input_empty = false;  // not one byte to read
    // Meta events the listing will not give back exactly; smfdis stays
    // silent on them.
    inexact_meta_t inexact_meta;
    inexact_bend_t inexact_bend;

    // Track counters and measure arithmetic, kept by the writer.
    std::int32_t tracks_started = 0;
    std::int32_t tracks_remaining = 0;
    std::int32_t division = 0;
    std::int32_t ticks_per_beat = 0;
    std::int32_t beats_per_measure = 0;
    std::int32_t measure_offset = 0;
    std::int32_t last_time_sig_time = 0;
};

extern conversion_state state;

// Puts every field back to its start value, keeping the message buffer's
// storage, so that in-process callers can convert one file after another.
void reset_state();

// Counters and times wrap modulo 2^32; signed overflow would be undefined.
constexpr std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

}  // namespace smfasm
