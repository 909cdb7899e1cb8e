// System-exclusive and meta events, and the payload store.
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "reader/reader.h"
#include "state/state.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

constexpr std::int32_t initial_capacity = 128;

void grow_buffer() {
    message_buffer_t& buffer = state.message_buffer;
    // Doubling keeps a multi-megabyte dump linear; the length is a signed
    // 32-bit count, so the capacity stops at its largest value.
    constexpr std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    if (buffer.capacity == largest) report_fatal("malloc error!");
    const std::int32_t capacity = buffer.capacity == 0            ? initial_capacity
                                  : buffer.capacity > largest / 2 ? largest
                                                                  : buffer.capacity * 2;
    void* storage = std::realloc(buffer.storage, static_cast<std::size_t>(capacity));
    if (storage == nullptr) report_fatal("malloc error!");
    buffer.storage = static_cast<unsigned char*>(storage);
    buffer.capacity = capacity;
}

// The payload is bounded by the count of bytes read, not by the chunk: a
// length running past the chunk's end keeps reading into what follows.
std::int32_t read_end_mark() {
    const std::int32_t length = read_vlq();
    return wrap_sub(state.chunk_remaining, length);
}

// Appends bytes until the end mark; returns the last byte read, or `last`
// when the payload is empty.
int append_payload(std::int32_t end_mark, int last) {
    while (state.chunk_remaining > end_mark) {
        last = read_byte();
        msg_append(last);
    }
    return last;
}

// A meta event whose line will not give its bytes back: counted, and the
// first kept for the caller's warning.
[[gnu::cold]] [[gnu::noinline]] void note_inexact(int type, std::int32_t length, std::int32_t expected, int value) {
    inexact_meta_t& seen = state.inexact_meta;
    if (seen.count++ == 0) seen = {1, state.tracks_started, state.current_time, type, length, expected, value};
}

}  // namespace

void msg_reset() { state.message_buffer.length = 0; }

void msg_append(int byte) {
    message_buffer_t& buffer = state.message_buffer;
    if (buffer.length == buffer.capacity) grow_buffer();
    buffer.storage[buffer.length++] = static_cast<unsigned char>(byte);
}

void read_sysex_start(track_decoder& track) {
    const std::int32_t end_mark = read_end_mark();
    msg_reset();
    msg_append(0xF0);
    // An empty payload "ends" in the stored status byte itself.
    const int last = append_payload(end_mark, 0xF0);
    const message_buffer_t& buffer = state.message_buffer;
    if (last == 0xF7 || state.merge_sysex == 0) {
        on_sysex(buffer.length, buffer.storage);
    } else {
        track.sysex_pending = true;
    }
}

void read_sysex_packet(track_decoder& track) {
    const std::int32_t end_mark = read_end_mark();
    const bool pending = track.sysex_pending;
    if (!pending) msg_reset();
    // An empty packet "ends" in its own F7 status byte, so it closes a
    // pending message.
    const int last = append_payload(end_mark, 0xF7);
    const message_buffer_t& buffer = state.message_buffer;
    if (!pending) {
        on_arbitrary(buffer.length, buffer.storage);
    } else if (last == 0xF7) {
        on_sysex(buffer.length, buffer.storage);
        track.sysex_pending = false;
    }
}

void read_meta_event() {
    const int type = read_byte();
    const std::int32_t end_mark = read_end_mark();
    msg_reset();
    append_payload(end_mark, 0);
    dispatch_meta(type);
}

void dispatch_meta(int type) {
    const message_buffer_t& buffer = state.message_buffer;
    const std::int32_t length = buffer.length;
    const unsigned char* data = buffer.storage;
    if (state.score_form != 0) return on_score_meta(type, length, data);
    // A payload shorter than its type needs reads its missing positions as 0.
    const auto d = [&](std::int32_t i) -> int { return i < length ? data[i] : 0; };
    // Values are listed as if the length were right: one that is not, or a
    // value the line cannot hold, is noted.
    switch (type) {
        case 0x00:
            if (length != 2) note_inexact(type, length, 2, -1);
            on_sequence_number(d(0) * 256 + d(1));
            break;
        case 0x2F:
            if (length != 0) note_inexact(type, length, 0, -1);
            on_end_of_track();
            break;
        case 0x51:
            if (length != 3) note_inexact(type, length, 3, -1);
            on_tempo(d(0) * 65536 + d(1) * 256 + d(2));
            break;
        case 0x54:
            if (length != 5) note_inexact(type, length, 5, -1);
            on_smpte(d(0), d(1), d(2), d(3), d(4));
            break;
        case 0x58:
            // Exponents above 32 all list as denominator 0, which reads as 32.
            if (length != 4 || d(1) > 32) note_inexact(type, length, 4, length != 4 ? -1 : d(1));
            on_time_signature(d(0), d(1), d(2), d(3));
            break;
        case 0x59:
            if (length != 2 || d(1) > 1) note_inexact(type, length, 2, length != 2 ? -1 : d(1));
            on_key_signature(d(0), d(1));
            break;
        case 0x7F: on_sequencer_specific(length, data); break;
        default:
            if (type >= 0x01 && type <= 0x0F) {
                on_meta_text(type, length, data);
            } else {
                on_meta_other(type, length, data);
            }
    }
}

}  // namespace smfasm
