#include "reader/reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "state/state.h"
#include "state/stop.h"
#include "state/tables.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

// A read error is not the end of the file: taking it as one would turn an
// unreadable input into a short, "successful" listing.
[[noreturn]] void report_read_error(int error) {
    score_listing_cut();
    std::fprintf(state.messages, "***Error while reading input file %s\n", state.input_name);
    std::fprintf(state.messages, "%s\n", std::strerror(error));
    stop_conversion(1);
}

// The input is read in blocks into a buffer of our own rather than through
// stdio: an inlined getc reloads the stream's pointers for every byte, and
// the event loop below wants a plain pointer it can keep in a register.
// Nothing is read ahead beyond this block, so a pipe works as well as a file.
struct input_block {
    static constexpr std::size_t size = std::size_t{64} * 1024;
    unsigned char bytes[size];
    const unsigned char* next = bytes;
    const unsigned char* end = bytes;
    // A read error met behind bytes still to be taken: it is reported when
    // reading reaches it, as getc would have.
    int pending_error = 0;
    bool at_end = false;
};
input_block input;

// The stream is read through its descriptor from where that stands, so
// nothing may have been read from it through stdio before the conversion.
void restart_input() {
    input.next = input.end = input.bytes;
    input.pending_error = 0;
    input.at_end = false;
}

// Fills the block and returns its first byte, or EOF at the end of the input.
[[gnu::noinline]] int refill_input() {
    if (input.pending_error != 0) report_read_error(input.pending_error);
    if (input.at_end) return EOF;
    std::size_t got = 0;
    const int fd = fileno(state.input);
    if (fd >= 0) {
        ssize_t count = 0;
        do {
            count = read(fd, input.bytes, input_block::size);
        } while (count < 0 && errno == EINTR);
        if (count < 0) report_read_error(errno);
        got = static_cast<std::size_t>(count);
    } else {
        // A stream with no descriptor (in memory, or with its own hooks).
        got = std::fread(input.bytes, 1, input_block::size, state.input);
        if (got < input_block::size && std::ferror(state.input) != 0) {
            if (got == 0) report_read_error(errno);
            input.pending_error = errno;
        }
    }
    if (got == 0) {
        input.at_end = true;
        return EOF;
    }
    input.next = input.bytes;
    input.end = input.bytes + got;
    return *input.next++;
}

// The next byte of the input, or EOF at its end.
inline int input_byte() {
    if (input.next == input.end) return refill_input();
    return *input.next++;
}

// The next byte of the current chunk, counted down in `remaining`; the end
// of the input here is premature.
inline int counted_byte(std::int32_t& remaining) {
    const int c = input_byte();
    if (c == EOF) report_fatal("premature EOF");
    remaining = wrap_sub(remaining, 1);
    return c;
}

// A variable-length quantity from `next_byte`: seven bits a byte, most
// significant first, until a byte with its top bit clear; overlong values
// wrap in 32 bits.
template <class NextByte>
std::int32_t decode_vlq(NextByte next_byte) {
    int b = next_byte();
    auto value = static_cast<std::uint32_t>(b);
    if (b & 0x80) {
        value &= 0x7F;
        do {
            b = next_byte();
            value = (value << 7) + static_cast<std::uint32_t>(b & 0x7F);
        } while (b & 0x80);
    }
    return static_cast<std::int32_t>(value);
}

// An event's own bytes taken one at a time and counted against the chunk
// in a local, written back (settle) once they are read, before the payload
// handlers, which read on: this keeps the count out of memory between the
// bytes of an event.
struct counted_bytes {
    std::int32_t remaining = state.chunk_remaining;
    int operator()() { return counted_byte(remaining); }
    void settle() const { state.chunk_remaining = remaining; }
};

// The same bytes taken straight from the block through a local pointer,
// with neither an end test nor a count per byte; valid only when the whole
// event is known to be buffered (see read_event).
struct buffered_bytes {
    const unsigned char* cursor = input.next;
    int operator()() { return *cursor++; }
    void settle() const {
        state.chunk_remaining = wrap_sub(state.chunk_remaining, static_cast<std::int32_t>(cursor - input.next));
        input.next = cursor;
    }
};

// Channel messages by the high nibble of their status: the data bytes that
// follow it, and the writer operation. One table lookup and an indirect call
// replace a test and a switch on the commonest path.
struct channel_message {
    int data_bytes;
    void (*handler)(int channel, int first, int second);
};
constexpr channel_message not_channel{0, nullptr};
constexpr std::array<channel_message, 16> channel_messages = {
    not_channel,
    not_channel,
    not_channel,
    not_channel,
    not_channel,
    not_channel,
    not_channel,
    not_channel,
    {2, on_note_off},
    {2, on_note_on},
    {2, on_poly_pressure},
    {2, on_controller},
    {1, [](int channel, int program, int) { on_program(channel, program); }},
    {1, [](int channel, int value, int) { on_channel_pressure(channel, value); }},
    {2, on_pitch_bend},
    not_channel,
};

// Score: the score form, which holds each event at its time, and channel
// events with whether their status byte was left out, in the track's record.
template <bool Score, class Bytes>
void read_event_from(track_decoder& track, Bytes next_byte) {
    const std::int32_t delta = decode_vlq([&next_byte] { return next_byte(); });
    state.current_time = wrap_add(state.current_time, delta);
    if constexpr (Score) track.held->clock += static_cast<std::uint32_t>(delta);
    const int b = next_byte();
    if (track.sysex_pending && b != 0xF7) report_fatal("didn't find expected continuation of a sysex");

    const bool running = b < 0x80;
    int status = b;
    if (running) {
        if (track.running_status == 0) report_fatal("unexpected running status");
        status = track.running_status;
    } else if (b <= 0xEF) {
        track.running_status = b;
    }

    const channel_message& message = channel_messages[static_cast<unsigned>(status) >> 4];
    if (message.data_bytes != 0) {
        const int first = running ? b : next_byte();
        const int second = message.data_bytes == 2 ? next_byte() : 0;
        next_byte.settle();
        if constexpr (Score) {
            track.held->add_channel(status, first, second, running);
        } else {
            message.handler(track.running_status & 0x0F, first, second);
        }
        return;
    }

    next_byte.settle();
    switch (status) {
        case 0xF0: read_sysex_start(track); break;
        case 0xF7: read_sysex_packet(track); break;
        case 0xFF: read_meta_event(); break;
        default: {
            // Formatted by hand: snprintf would pull the whole of printf,
            // floating point included, into the WebAssembly module.
            char message[] = "unexpected byte: 0x00";
            constexpr char hex[] = "0123456789abcdef";
            message[sizeof message - 3] = hex[status >> 4 & 15];
            message[sizeof message - 2] = hex[status & 15];
            report_fatal(message);
        }
    }
}

// The longest event head the block is trusted to hold whole: a time step of
// up to four bytes, a status and two data bytes.
constexpr std::ptrdiff_t longest_short_event = 7;

template <bool Score>
void read_event(track_decoder& track) {
    // Nearly every event is a channel message of at most seven bytes, so it
    // is read without per-byte tests when that much is buffered and its time
    // step ends within four bytes; the rest (a block's last bytes, overlong
    // steps) take the counted path.
    if (input.end - input.next >= longest_short_event) {
        std::uint32_t head = 0;
        std::memcpy(&head, input.next, sizeof head);
        if ((head & 0x80808080u) != 0x80808080u) return read_event_from<Score>(track, buffered_bytes{});
    }
    read_event_from<Score>(track, counted_bytes{});
}

// The score form's loop: channel events go straight into the held track,
// read from the block through local copies of the cursor, the chunk's count,
// the clock and the running status, with no call per event. Whatever else
// comes (a meta event, SysEx, an overlong time step, a malformed event, the
// block's last bytes) is left to read_event, which reports what is wrong
// exactly as the tick form's loop does.
void read_score_events(track_decoder& track) {
    score::track_record& held = *track.held;
    score::track_tally& tally = held.tally;
    score::waiting_notes& notes = tally.notes();
    while (state.chunk_remaining > 0) {
        const unsigned char* cursor = input.next;
        const unsigned char* const first_read = cursor;
        // Events begin before the chunk's end and with a whole event's room
        // in the block: one bound for both, the count settled after the loop.
        // A SysEx message waiting for its continuation leaves no room: only
        // read_event may read on, and it stops at anything else.
        const std::ptrdiff_t room = track.sysex_pending ? 0 : (input.end - cursor) - (longest_short_event - 1);
        const std::ptrdiff_t span = std::max<std::ptrdiff_t>(0, std::min<std::ptrdiff_t>(room, state.chunk_remaining));
        const unsigned char* const stop = cursor + span;
        // Every event takes two bytes at least.
        held.events.room(static_cast<std::size_t>(span) / 2 + 1);
        score::track_event* const events = held.events.data();
        const std::int64_t clock_before = held.clock;
        std::int64_t clock = clock_before;
        // The tally's last channel status is the running status: both
        // change with every channel event and with nothing else.
        score::tally_state counting = tally.now;
        while (cursor < stop) {
            const unsigned char* p = cursor;
            std::uint32_t delta = *p++;
            if (delta >= 0x80) {
                delta &= 0x7F;
                int more = 0;
                while (*p >= 0x80 && more < 2) delta = delta << 7 | (*p++ & 0x7Fu), ++more;
                if (*p >= 0x80) break;
                delta = delta << 7 | *p++;
            }
            unsigned status = *p;
            const bool running = status < 0x80;
            if (running) {
                if (counting.last_status == 0) break;
                status = counting.last_status;
            } else if (status <= 0xEF) {
                ++p;
            } else {
                break;
            }
            const unsigned first = *p++;
            const unsigned second = (status & 0xE0) == 0xC0 ? 0 : *p++;
            clock += delta;
            tally.channel(counting, notes, events, delta != 0, clock, status, first, second, running);
            cursor = p;
        }
        held.events.added(counting.counted - held.events.size());
        tally.now = counting;
        input.next = cursor;
        const std::int32_t remaining = wrap_sub(state.chunk_remaining, static_cast<std::int32_t>(cursor - first_read));
        state.chunk_remaining = remaining;
        held.clock = clock;
        state.current_time = wrap_add(state.current_time, static_cast<std::int32_t>(clock - clock_before));
        track.running_status = static_cast<int>(counting.last_status);
        if (remaining > 0) read_event<true>(track);
    }
}

}  // namespace

void report_fatal(const char* message) {
    score_listing_cut();
    if (state.tracks_remaining > 0) {
        std::fprintf(state.messages, "Error: %s\n", message);
    } else {
        std::fputs("Error: Garbage at end\n", state.messages);
    }
    stop_conversion(1);
}

int read_byte() { return counted_byte(state.chunk_remaining); }

int read_u16() {
    const int high = read_byte();
    return high << 8 | read_byte();
}

std::int32_t read_u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint32_t>(read_byte());
    return static_cast<std::int32_t>(value);
}

std::int32_t read_vlq() { return decode_vlq(read_byte); }

namespace {

// The bytes a file starts with when they are no header chunk: those matched,
// the one that was not and a few more, read only to say what the file is.
void keep_first_bytes(const char* tag, int matched, int mismatch) {
    std::int32_t& n = state.first_bytes_length;
    n = 0;
    for (int i = 0; i < matched; ++i) state.first_bytes[n++] = static_cast<unsigned char>(tag[i]);
    state.first_bytes[n++] = static_cast<unsigned char>(mismatch);
    for (int c = 0; n < static_cast<std::int32_t>(sizeof state.first_bytes) && (c = input_byte()) != EOF;) {
        state.first_bytes[n++] = static_cast<unsigned char>(c);
    }
}

}  // namespace

int match_chunk_tag(const char* tag) {
    int c = 0;
    for (int i = 0; i < 4; ++i) {
        c = input_byte();
        if (c == EOF) {
            state.partial_tag_length = i;
            return -1;
        }
        if (c != static_cast<unsigned char>(tag[i])) {
            if (tag[1] == 'T' && tag[2] == 'h') keep_first_bytes(tag, i, c);
            report_fatal(("expecting " + std::string(tag)).c_str());
        }
    }
    return c;
}

void read_header_chunk() {
    if (match_chunk_tag("MThd") == -1) {
        // Nothing, or a file cut inside the header's tag: no MIDI file.
        state.input_empty = state.partial_tag_length == 0;
        for (int i = 0; i < state.partial_tag_length; ++i) state.first_bytes[i] = static_cast<unsigned char>("MThd"[i]);
        state.first_bytes_length = state.partial_tag_length;
        return;
    }
    state.chunk_remaining = read_u32();
    const int format = read_u16();
    const int track_count = read_u16();
    const int division = read_u16();
    on_header(format, track_count, division);
    while (state.chunk_remaining > 0) read_byte();
}

bool read_track_chunk() {
    if (match_chunk_tag("MTrk") == -1) return false;
    state.chunk_remaining = read_u32();
    state.current_time = 0;
    on_track_start();
    track_decoder track;
    // Tested only between events: an event running past the declared end is
    // read whole and the next tag is expected right after it.
    if (state.score_form != 0) {
        track.held = &score_held_track();
        read_score_events(track);
    } else {
        while (state.chunk_remaining > 0) read_event<false>(track);
    }
    on_track_end();
    return true;
}

void convert_file() {
    restart_input();
    read_header_chunk();
    while (read_track_chunk()) {
    }
}

}  // namespace smfasm
