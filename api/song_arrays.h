// What a player or a piano roll needs of a MIDI file, as flat arrays that
// the npm package turns into typed arrays with one copy each: the notes with
// their lengths, the notes' stray ends, program changes, the tempo map and
// every bar start. Made from the score form's own decoding and metre map, so
// that a note's length and a bar's number are the ones the score listing
// writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "score/song.h"

namespace smfasm {

struct song_arrays {
    std::int32_t format = 0;
    // Ticks per quarter note; 0 when the file counts time in SMPTE frames.
    std::int32_t division = 0;
    std::int32_t tracks = 0;  // track chunks found, not as the header announces them
    double end_tick = 0;      // the latest track end

    // Note starts in file order (track by track); a note that never ends
    // has length -1.
    std::vector<std::uint16_t> note_track;
    std::vector<std::uint8_t> note_channel;
    std::vector<std::uint8_t> note_key;
    std::vector<std::uint8_t> note_velocity;
    std::vector<double> note_start;
    std::vector<double> note_length;

    // Ends with no note sounding to end.
    std::vector<std::uint16_t> off_track;
    std::vector<std::uint8_t> off_channel;
    std::vector<std::uint8_t> off_key;
    std::vector<double> off_tick;

    std::vector<std::uint16_t> program_track;
    std::vector<std::uint8_t> program_channel;
    std::vector<double> program_tick;
    std::vector<std::uint8_t> program;

    // Tempo events of the first track in formats 0 and 1, of every track in
    // format 2, in file order.
    std::vector<double> tempo_tick;
    std::vector<std::uint32_t> tempo_micros;

    // Every bar that starts at or before end_tick, per metre: one for the
    // song in formats 0 and 1 (track 0), one per track in format 2. A bar
    // under a metre too fine for the division has ticks_per_beat 0 and
    // lasts to the next time signature, as the listing writes its times in
    // ticks there. A denominator past 16 bits is 0.
    std::vector<std::uint16_t> bar_track;
    std::vector<std::uint32_t> bar_number;
    std::vector<double> bar_tick;
    std::vector<std::uint8_t> bar_numerator;
    std::vector<std::uint16_t> bar_denominator;
    std::vector<std::uint32_t> bar_ticks_per_beat;

    // Set when the arrays hold less than the file says, with why: a file
    // of a few bytes can place a bar at each of millions of ticks.
    std::string warning;
};

// The most bars given unless the caller says otherwise: far more than any
// piece of music has.
inline constexpr std::size_t default_bar_limit = std::size_t{1} << 20;

// Fills `out` from a decoded song; returns an empty string, or why the song
// gives nothing (its arrays are then empty).
std::string arrays_from_song(const score::song& song, song_arrays& out, std::size_t bar_limit = default_bar_limit);

// Decodes the file and fills `out`; returns an empty string, or why the
// file gives nothing (the arrays are then empty, the header's fields
// filled as far as they were read).
std::string song_arrays_of(const unsigned char* data, std::size_t size, song_arrays& out,
                           std::size_t bar_limit = default_bar_limit);

}  // namespace smfasm
