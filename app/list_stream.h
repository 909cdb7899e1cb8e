// Lists one MIDI stream with the lister's core, in-process, for programs
// other than smfdis: the one place that sets the core up for them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/options.h"

namespace smfasm {

struct stream_listing {
    // 0 when the listing is complete; 1 when malformed input or a read error
    // cut it short (its messages went to the messages stream).
    int status = 0;
    // The system's error number of the first failed write of the listing, or 0.
    int write_error = 0;
    // What the header announced against what the file held, for a
    // complete listing; both 0 when there was no header.
    std::int32_t tracks_announced = 0;
    std::int32_t tracks_found = 0;
    // Bytes of a chunk tag the input ended inside, or 0.
    std::int32_t partial_tag_length = 0;
};

// Lists `input` (read through its descriptor from where it stands, nothing
// read through stdio before) into `output`, with the conversion's messages
// going to `messages`. The listing is written out as far as it got.
stream_listing list_stream(std::FILE* input, const char* input_name, std::FILE* output, std::FILE* messages,
                           const lister_options& options);

}  // namespace smfasm
