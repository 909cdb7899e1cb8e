// The lossless columnar event table: every event of every track, one row
// each in file order, as plain arrays that Python (and later the page and
// the npm package) hand to their users without copying; and the file
// written back from such columns, byte for byte when they are unchanged.
// Reentrant: tables of many files may be made and written at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "score/song.h"

namespace smfasm {

// The storage of a table's row columns: new rows are left unset rather
// than zeroed, since the table is sized once and every row then filled.
template <class T>
struct unset_allocator : std::allocator<T> {
    unset_allocator() = default;
    template <class U>
    unset_allocator(const unset_allocator<U>& /*other*/) noexcept {}
    template <class U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};
template <class T>
using column = std::vector<T, unset_allocator<T>>;

// Row values that stand for "none".
inline constexpr std::int64_t no_value = -1;

struct event_table {
    // The header as the file has it.
    std::int32_t format = 0;
    std::int32_t track_count = 0;
    std::int32_t division = 0;
    std::int64_t header_length = 6;
    std::vector<unsigned char> header_extra;

    // One per track chunk: its declared length where that is not the
    // length of its events (else no_value), and the byte habits the score
    // form states on its MTrk line.
    std::vector<std::int64_t> track_length;
    std::vector<std::int16_t> end_velocity;  // score::end_by_note_on: ends by note-on
    std::vector<std::uint8_t> running_mask;  // one bit per channel slot
    std::vector<std::uint8_t> carry;
    std::vector<std::uint8_t> reverse;

    // One per event.
    column<std::int32_t> track;
    column<std::int64_t> tick;  // from the track's start
    // Bar, beat and tick within the beat where the metre places bars, else
    // no_value.
    column<std::int64_t> bar;
    column<std::int64_t> beat;
    column<std::int64_t> beat_tick;
    // 0x80 to 0xE0 for channel messages, 0xF0 and 0xF7 for SysEx packets,
    // 0xFF for meta events.
    column<std::uint8_t> kind;
    column<std::int8_t> channel;  // 0 to 15; -1 when no channel message
    column<std::uint8_t> data1;   // the first data byte, or the meta type
    column<std::uint8_t> data2;
    // A paired note's start: ticks to its end; otherwise no_value.
    column<std::int64_t> note_length;
    // The row of a paired note's other end, or no_value.
    column<std::int64_t> partner;
    column<std::uint8_t> running;  // the file left out the status byte
    // What the score form's lines mark against the habits.
    column<std::uint8_t> status_mark;
    column<std::int32_t> end_position;
    // SysEx and meta payloads: the bytes after their length, in `blob`.
    column<std::int64_t> offset;
    column<std::int64_t> length;
    std::vector<unsigned char> blob;
};

// Fills `out` from a decoded song.
void table_from_song(const score::song& song, event_table& out);

// Borrowed columns to write a file from: the caller's arrays, `rows` long
// (tracks long for track_length).
struct event_columns {
    std::int32_t format = 0;
    std::int32_t track_count = 0;
    std::int32_t division = 0;
    std::int64_t header_length = 6;
    const unsigned char* header_extra = nullptr;
    std::size_t header_extra_size = 0;
    std::size_t tracks = 0;
    const std::int64_t* track_length = nullptr;
    std::size_t rows = 0;
    const std::int32_t* track = nullptr;
    const std::int64_t* tick = nullptr;
    const std::uint8_t* kind = nullptr;
    const std::int8_t* channel = nullptr;
    const std::uint8_t* data1 = nullptr;
    const std::uint8_t* data2 = nullptr;
    const std::uint8_t* running = nullptr;
    const std::int64_t* offset = nullptr;
    const std::int64_t* length = nullptr;
    const unsigned char* blob = nullptr;
    std::size_t blob_size = 0;
};

// The columns of a table, borrowed.
event_columns columns_of(const event_table& table);

// Writes the file the columns describe into `out`. A status byte is left
// out where the row says so and running status allows it, and written
// otherwise. Returns an empty string, or why the columns make no file
// (rows out of track or time order, values out of range, a declared track
// length its events no longer fit).
std::string write_table(const event_columns& columns, std::vector<unsigned char>& out);

}  // namespace smfasm
