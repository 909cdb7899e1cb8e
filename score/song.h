// A whole MIDI file held in memory, decoded into one track record per track
// chunk with the score form's analysis done: notes paired, habits chosen,
// marks set, bars placed. Unlike the lister it keeps no state of its own, so
// any number of files may be decoded at once from several threads; and it
// keeps exactly what the file holds, so the file can be written back from
// it byte for byte. A file it could not give back that way is refused, with
// the reason, rather than decoded into something that differs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "score/habits.h"
#include "score/metre_map.h"
#include "score/track.h"

namespace smfasm::score {

struct song_track {
    // SysEx (F0), escape (F7) and meta payloads are the bytes after their
    // length, as the file holds them; a meta event's status is its type.
    track_record record;
    track_habits habits;
    // The chunk's length as the file declares it. The events may run past
    // it: the next chunk starts after the event the declared end falls in.
    std::uint32_t declared_length = 0;
    // The bytes its events take.
    std::uint64_t found_length = 0;
};

struct song {
    int format = 0;
    int track_count = 0;  // as the header announces it
    int division = 0;     // the header's own 16 bits
    std::uint32_t header_length = 6;
    // Header bytes beyond the six the format defines.
    std::vector<unsigned char> header_extra;
    std::vector<song_track> tracks;
    // The bars of every track in formats 0 and 1 (the first track's time
    // signatures); empty in format 2, where each track has its own.
    metre_map metre;
    std::vector<metre_map> track_metres;  // format 2 only

    // The metre that places `track`'s bars.
    const metre_map& metre_of(std::size_t track) const { return format == 2 ? track_metres[track] : metre; }
    // Whether `track`'s own TimeSig events move the bars it is placed by:
    // the score form writes each such event's time before the bars it starts.
    bool moves_metre(std::size_t track) const { return format == 2 || track == 0; }
};

// Whether `e` is a TimeSig event that places bars (the score lister's
// test), and its numerator and power of two of the denominator.
bool is_time_signature(const track_record& record, const track_event& e, int& numerator, int& exponent);

struct song_error {
    std::size_t offset = 0;  // the byte of the file where decoding stopped
    std::string text;        // empty when the file decoded
    explicit operator bool() const { return !text.empty(); }
};

// Decodes `size` bytes at `data` into `out` (cleared first). Never reads
// outside them; running status is the lister's: it carries across meta
// events and SysEx.
song_error decode_song(const unsigned char* data, std::size_t size, song& out);

}  // namespace smfasm::score
