// The assembler's state while it reads one listing, shared by the files
// that read each kind of line: framing (assembler.cpp), channel lines
// (channel_lines.cpp), data and meta lines (data_lines.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asm/assembler.h"
#include "asm/fields.h"
#include "asm/keyword_table.h"
#include "asm/messages.h"
#include "score/habits.h"
#include "score/metre_map.h"
#include "score/note_ends.h"

namespace smfasm::assembly {

inline bool is_time_start(char c) { return (c >= '0' && c <= '9') || c == '-'; }

// The metre the lister keeps for its measure column, moved the same way.
struct metre {
    bool smpte = false;
    std::int32_t division = 0;
    std::int32_t ticks_per_beat = 0;
    std::int32_t beats_per_measure = 0;
    std::int32_t measure_offset = 0;
    std::int32_t last_time_sig_time = 0;

    // Measure times can be read in it.
    bool usable() const { return !smpte && ticks_per_beat != 0 && beats_per_measure != 0; }
};

inline std::uint32_t wrap(std::int64_t v) { return static_cast<std::uint32_t>(v); }

// A file's delta times are variable-length numbers of at most four bytes.
inline bool delta_fits(std::int32_t time, std::int32_t previous) {
    return wrap(time) - wrap(previous) < (std::uint32_t{1} << 28);
}

inline bool names_a_note(std::size_t slot) {
    return slot == slot_note_on || slot == slot_note_off || slot == slot_poly_pressure;
}

// The lister prints a pitch bend as low + 128 x high of two bytes as read:
// the high byte takes what it can.
struct bend_bytes {
    int low;
    int high;
};
inline bend_bytes split_bend(std::int64_t value) {
    const int high = value / 128 < 255 ? static_cast<int>(value / 128) : 255;
    return {static_cast<int>(value) - 128 * high, high};
}
// The longest step between two events that a delta time holds.
constexpr std::int64_t largest_step = (std::int64_t{1} << 28) - 1;

constexpr std::int64_t largest_bend = 255 + 255 * 128;
constexpr std::int64_t largest_data_bend = 127 + 127 * 128;

// The bytes of the track being assembled. Events are appended through
// room() and commit(), so that a channel event checks for space once and
// then writes its few bytes through a pointer kept in a register.
class track_bytes {
public:
    unsigned char* room(std::size_t bytes) {
        if (capacity_ - size_ < bytes) grow(bytes);
        return data_.get() + size_;
    }
    void commit(unsigned char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    void push_back(unsigned char byte) { *room(1) = byte, ++size_; }
    void append(const unsigned char* bytes, std::size_t count) {
        if (count == 0) return;
        std::memcpy(room(count), bytes, count);
        size_ += count;
    }
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    const unsigned char* data() const { return data_.get(); }

private:
    void grow(std::size_t bytes) {
        std::size_t capacity = capacity_ == 0 ? std::size_t{64} * 1024 : capacity_ * 2;
        while (capacity - size_ < bytes) capacity *= 2;
        // Left uninitialised: every byte is written before it is read.
        std::unique_ptr<unsigned char[]> data(new unsigned char[capacity]);
        if (size_ != 0) std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        capacity_ = capacity;
    }

    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// A minimal variable-length quantity at `out`; returns its end.
[[gnu::always_inline]] inline unsigned char* put_vlq(unsigned char* out, std::uint32_t value) {
    if (value < 0x80) {
        *out = static_cast<unsigned char>(value);
        return out + 1;
    }
    if (value < 0x4000) {
        out[0] = static_cast<unsigned char>(0x80 | value >> 7);
        out[1] = static_cast<unsigned char>(value & 0x7F);
        return out + 2;
    }
    unsigned char bytes[5];
    int n = 0;
    bytes[n++] = static_cast<unsigned char>(value & 0x7F);
    while ((value >>= 7) != 0) bytes[n++] = static_cast<unsigned char>(0x80 | (value & 0x7F));
    while (n > 0) *out++ = bytes[--n];
    return out;
}

class assembler {
public:
    assembler(const char* name, const assembly_options& options, byte_sink& out, std::FILE* messages,
              std::vector<assembly_message>* collected)
        : options_(options), out_(out), log_(name, options.strict, messages, collected) {}

    // Takes the plain lines that `in` holds whole, as long as the quick
    // reader reads them. False once too many errors have been reported.
    bool quick_lines(listing_reader& in);
    // Any other line. False once too many errors have been reported.
    bool line(const listing_line& line) { return general_line(line); }
    // `whole`: the listing was read to its end. One cut short by a read
    // error is the caller's to report; what its end would have told (no
    // MFile, a track left open) would only mislead.
    int finish(std::int64_t lines_read, bool whole);

private:
    void frame_line(field_cursor& c);
    void header_line(field_cursor& c, const char* start);
    void track_end(const char* start);
    void event_line(field_cursor& c);
    void check_event(const time_field& t, event_kind kind, std::int32_t time);
    // A value read as `what` from `at` to the cursor: one above 127 is not a
    // MIDI data byte, which a hand-written listing rarely means.
    void data_byte(const field_cursor& c, const char* at, int value, const char* what);
    // Says where the metre of a measure time came from.
    std::string metre_origin() const;
    bool general_line(const listing_line& line);
    std::int32_t event_time(const time_field& t) const {
        if (!t.measure) return t.ticks;
        const metre& m = metre_;
        if (!m.usable()) no_metre(t);
        // The lister's column run backwards, in the same wrapping arithmetic.
        const std::uint32_t beats = (wrap(t.ticks) - wrap(m.measure_offset)) * wrap(m.beats_per_measure) + wrap(t.beat);
        return static_cast<std::int32_t>(beats * wrap(m.ticks_per_beat) + wrap(t.tick) + wrap(m.last_time_sig_time));
    }
    [[noreturn]] void no_metre(const time_field& t) const;
    // The same without wrapping: it differs when the time does not fit.
    std::int64_t measure_ticks(const time_field& t) const {
        const metre& m = metre_;
        const std::int64_t beats =
            (std::int64_t{t.ticks} - m.measure_offset) * m.beats_per_measure + std::int64_t{t.beat};
        return beats * m.ticks_per_beat + t.tick + m.last_time_sig_time;
    }
    // Beat and tick inside their bar and beat, as the lister counts them.
    bool within_bar(const time_field& t) const {
        return t.beat < metre_.beats_per_measure && t.tick < metre_.ticks_per_beat;
    }
    // The measure time the lister writes for `time`.
    time_field listed_time(std::int32_t time) const;
    void check_measure_time(const time_field& t, std::int32_t time);

    // The quick reader (quick_lines.cpp): runs of plain lines of each form,
    // from `p` up to `end` at most; each returns where it stopped, with
    // `number` the last line it took.
    template <bool Running>
    const char* quick_tick_lines(const char* p, const char* end, std::int64_t& number);
    const char* quick_score_lines(const char* p, const char* end, std::int64_t& number);
    // The rest of a measure:beat:tick time whose measure is read, with `p` at
    // its first ":": where it ends and its tick, or null where the general
    // reader is to read it.
    struct measure_read {
        const char* end = nullptr;
        std::int32_t time = 0;
    };
    measure_read quick_measure_time(const char* p, std::int32_t measure, bool track_empty) const;
    void channel_event(field_cursor& c, std::size_t slot, std::int32_t time);
    // A note-on or note-off of a key 0 to 127 read by the general reader:
    // counted, and an off that ends no note said.
    void note_event(std::string_view note, std::size_t slot, int channel, int key, int velocity);
    // A note-on (`on`: of a velocity above 0, struck on `line`) or
    // note-off of a key 0 to 127 counted against the notes sounding, for
    // the hanging-note warnings, by either reader; false for an off that
    // ends no note.
    [[gnu::always_inline]] bool count_note(bool on, int channel, int key, std::int64_t line) {
        const std::size_t index = static_cast<std::size_t>(channel - 1) * 128 + static_cast<std::size_t>(key);
        std::uint32_t& sounding = sounding_[index];
        if (on) {
            if (sounding++ == 0) struck_on_[index] = line;
            return true;
        }
        if (sounding == 0) return false;
        --sounding;
        return true;
    }
    // Says which notes the track leaves sounding, and forgets them.
    void check_sounding_notes(const char* start);
    void put_channel(std::int32_t time, std::size_t slot, int channel, int first, int second);
    void payload_event(field_cursor& c, event_kind kind, std::int32_t time);
    void meta_event(field_cursor& c, std::int32_t time);
    // A meta end of track has been written.
    void ends_track();
    std::int64_t tempo(field_cursor& c);
    void time_signature(field_cursor& c, std::int32_t time);

    // The score form (score_lines.cpp): the MFile line's mark, the MTrk
    // line's habits, bar:beat:tick times, Note lines and the marks that keep
    // a file's byte habits, and the ends of the notes still sounding.
    void score_header(field_cursor& c);
    void score_note_values();
    void score_track_start(field_cursor& c);
    void score_track_end();
    std::int64_t score_time(field_cursor& c, const char*& at);
    void score_channel_event(field_cursor& c, std::size_t slot, bool note);
    void put_score_channel(std::int64_t time, int status, int first, int second, int mark, const char* at);
    // Writes the ends that the rule puts before an event at `time`.
    void place_ends(std::int64_t time) {
        if (ends_.due() > time) return;
        place_ends_slowly(time);
    }
    void place_ends_slowly(std::int64_t time);
    void put_end(const score::pending_end& end);
    void put_delta_to(std::int64_t time);

    // Starts an event at `time`: its delta time goes into the track.
    void begin_event(std::int32_t time);
    void put(unsigned char byte) { track_.push_back(byte); }
    void put_vlq(std::uint32_t value) { track_.commit(assembly::put_vlq(track_.room(5), value)); }
    void put_meta(int type, const unsigned char* data, std::size_t size);
    void put_meta(int type, std::initializer_list<unsigned char> data) { put_meta(type, data.begin(), data.size()); }

    assembly_options options_;
    byte_sink& out_;
    message_log log_;
    const listing_line* line_ = nullptr;  // the line being read

    std::int64_t header_line_ = 0;  // 0 until the MFile line
    std::string header_text_;       // the MFile line, for a warning about its track count
    std::size_t count_offset_ = 0;  // where the track count stands in it
    int announced_tracks_ = 0;
    int tracks_ = 0;
    std::int64_t track_line_ = 0;  // the open track's MTrk line, or 0
    // In a track and before its Meta TrkEnd: the quick reader may take lines
    // (quick_ of the tick form, quick_score_ of the score form).
    bool quick_ = false;
    bool quick_score_ = false;
    std::int64_t end_of_track_line_ = 0;  // the open track's Meta TrkEnd line, or 0
    bool after_end_warned_ = false;
    metre metre_;
    std::int64_t time_signature_line_ = 0;  // where the metre last changed, or 0
    std::string time_signature_text_;

    // Notes sounding in the open track, by channel and key (a key struck
    // again before its off counts twice), and the line that struck each
    // key while none sounded.
    std::array<std::uint32_t, 16 * 128> sounding_{};
    std::array<std::int64_t, 16 * 128> struck_on_{};

    track_bytes track_;
    std::int32_t previous_time_ = 0;
    int running_status_ = 0;     // the last channel status written, 0 after any other event
    std::size_t label_set_ = 0;  // the format set whose labels matched last
    payload_bytes payload_;

    // The score form.
    bool score_ = false;
    int format_ = 0;
    score::metre_map score_metre_;
    score::track_habits habits_;
    score::note_ends ends_;
    std::int64_t line_time_ = 0;     // the line's absolute time
    std::int64_t written_time_ = 0;  // the last event written, ends included
    int channel_status_ = 0;         // the last channel status written, which running status repeats
    std::int64_t notes_begun_ = 0;
    // A Note's length "1/N" (N up to 64), "1/N." and "1/Nt" in ticks at the
    // file's division, or -1 where the general reader says why not: what
    // the quick reader looks up instead of dividing.
    std::array<std::array<std::int32_t, 3>, 65> note_value_ticks_{};
};

}  // namespace smfasm::assembly
