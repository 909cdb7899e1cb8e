// The MIDI file reader: byte input, chunk framing and the event loop.
#pragma once

#include <cstdint>

#include "score/track.h"

namespace smfasm {

// Decoder state of one track chunk, made afresh for each.
struct track_decoder {
    int running_status = 0;
    bool sysex_pending = false;
    // The score form's held track, which channel events are added to
    // straight from the event loop; null in the tick form.
    score::track_record* held = nullptr;
};

// The whole conversion of `state.input` into the listing.
void convert_file();

// Prints the malformed-input message ("Error: Garbage at end" once no
// announced track is left) and ends the run.
[[noreturn]] void report_fatal(const char* message);

int read_byte();
int read_u16();
std::int32_t read_u32();
std::int32_t read_vlq();
int match_chunk_tag(const char* tag);
void read_header_chunk();
bool read_track_chunk();

// System-exclusive and meta events (status F0, F7, FF).
void read_sysex_start(track_decoder& track);
void read_sysex_packet(track_decoder& track);
void read_meta_event();
void dispatch_meta(int type);

// The payload store.
void msg_reset();
void msg_append(int byte);

}  // namespace smfasm
