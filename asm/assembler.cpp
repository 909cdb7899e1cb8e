#include "asm/assembler.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "asm/fields.h"
#include "asm/messages.h"
#include "state/keywords.h"
#include "state/tables.h"

namespace smfasm {

namespace {

// What a keyword after the time column starts.
enum class event_kind : std::uint8_t {
    none,
    channel,
    sysex,
    arbitrary,
    sequencer_specific,
    meta,
    sequence_number,
    tempo,
    smpte,
    time_signature,
    key_signature
};

// Eight bytes of text as one number (the first byte lowest), so that a
// short word compares with one instruction. The reader keeps room behind
// every line for such a load.
std::uint64_t load8(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

constexpr std::uint64_t low_bytes_mask(std::size_t bytes) {
    return bytes >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * bytes)) - 1;
}

constexpr std::uint64_t pack(std::string_view text) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < text.size() && i < 8; ++i)
        v |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
    return v;
}

// A value's label and its "=", packed.
struct packed_label {
    std::uint64_t key = 0;
    std::uint64_t mask = 0;
    std::size_t size = 0;

    packed_label() = default;
    explicit packed_label(std::string_view label) : size(label.size() + 1) {
        key = pack(label) | std::uint64_t{'='} << (8 * label.size());
        mask = low_bytes_mask(size);
    }
};

// A channel line's words, taken apart from the writer's own formats:
// "On ch=" gives the keyword "On" and the label "ch", " n=" the label "n".
struct channel_syntax {
    std::string_view channel_label;
    std::array<std::string_view, 2> second;  // short and long set
    std::array<std::string_view, 2> third;   // empty for one-value lines
    // The same, packed for the quick reading of whole lines.
    packed_label packed_channel;
    std::array<packed_label, 2> packed_second;
    std::array<packed_label, 2> packed_third;
};

constexpr std::string_view label_of(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && text.back() == '=') text.remove_suffix(1);
    return text;
}

constexpr std::string_view head_keyword(const channel_format& format) {
    const std::string_view head = format.head.view();
    return head.substr(0, head.find(' '));
}

struct keyword_entry {
    std::uint64_t key = 0;
    event_kind kind = event_kind::none;
    std::uint8_t slot = 0;
};

// The event keywords, each in a slot of its own: one multiplication and one
// compare per line on the hot path.
class keyword_table {
public:
    keyword_table() {
        for (std::size_t s = 0; s < channel_slot_count; ++s) {
            add(head_keyword(short_channel_formats.slots[s]), event_kind::channel, s);
            add(head_keyword(long_channel_formats.slots[s]), event_kind::channel, s);
            const channel_format& short_format = short_channel_formats.slots[s];
            const channel_format& long_format = long_channel_formats.slots[s];
            const std::string_view head = short_format.head.view();
            syntax_[s].channel_label = label_of(head.substr(head.find(' ')));
            syntax_[s].second = {label_of(short_format.second.view()), label_of(long_format.second.view())};
            syntax_[s].third = {label_of(short_format.third.view()), label_of(long_format.third.view())};
            syntax_[s].packed_channel = packed_label(syntax_[s].channel_label);
            for (std::size_t set = 0; set < 2; ++set) {
                syntax_[s].packed_second[set] = packed_label(syntax_[s].second[set]);
                syntax_[s].packed_third[set] = packed_label(syntax_[s].third[set]);
            }
        }
        add(keyword::sysex, event_kind::sysex);
        add(keyword::arbitrary, event_kind::arbitrary);
        add(keyword::sequencer_specific, event_kind::sequencer_specific);
        add(keyword::meta, event_kind::meta);
        add(keyword::sequence_number, event_kind::sequence_number);
        add(keyword::tempo, event_kind::tempo);
        add(keyword::smpte, event_kind::smpte);
        add(keyword::time_signature, event_kind::time_signature);
        add(keyword::key_signature, event_kind::key_signature);
        place();
    }

    const keyword_entry* find(std::string_view word) const {
        if (word.empty() || word.size() > 8) return nullptr;
        return find_packed(pack(word));
    }
    // The word of `size` letters at `p`, which has room behind it.
    const keyword_entry* find_at(const char* p, std::size_t size) const {
        if (size == 0 || size > 8) return nullptr;
        return find_packed(load8(p) & low_bytes_mask(size));
    }

    const channel_syntax& syntax(std::size_t slot) const { return syntax_[slot]; }

private:
    // Keywords are letters, at most eight of them, so the packed word is
    // the whole word and zero bytes mark its end. A multiplier that gives
    // every keyword a slot of its own is found once, so that a lookup is one
    // multiplication and one compare.
    std::size_t slot_of(std::uint64_t key) const { return (key * multiplier_) >> 58; }
    const keyword_entry* find_packed(std::uint64_t key) const {
        const keyword_entry& e = entries_[slot_of(key)];
        return e.kind != event_kind::none && e.key == key ? &e : nullptr;
    }
    void add(std::string_view word, event_kind kind, std::size_t slot = 0) {
        const std::uint64_t key = pack(word);
        for (const keyword_entry& e : words_) {
            if (e.key == key) return;  // both format sets share the keyword
        }
        words_.push_back({key, kind, static_cast<std::uint8_t>(slot)});
    }
    void place() {
        for (std::uint64_t candidate = 0x9E3779B97F4A7C15u;;
             candidate = candidate * 6364136223846793005u + 1442695040888963407u) {
            multiplier_ = candidate | 1;
            entries_ = {};
            bool distinct = true;
            for (const keyword_entry& e : words_) {
                keyword_entry& slot = entries_[slot_of(e.key)];
                distinct = distinct && slot.kind == event_kind::none;
                slot = e;
            }
            if (distinct) return;
        }
    }

    std::vector<keyword_entry> words_;
    std::uint64_t multiplier_ = 1;
    std::array<keyword_entry, 64> entries_{};
    std::array<channel_syntax, channel_slot_count> syntax_{};
};

const keyword_table keyword_lookup;

const keyword_table& keywords() { return keyword_lookup; }

bool is_time_start(char c) { return (c >= '0' && c <= '9') || c == '-'; }

// The metre the lister keeps for its measure column, moved the same way.
struct metre {
    bool smpte = false;
    std::int32_t division = 0;
    std::int32_t ticks_per_beat = 0;
    std::int32_t beats_per_measure = 0;
    std::int32_t measure_offset = 0;
    std::int32_t last_time_sig_time = 0;
};

std::uint32_t wrap(std::int64_t v) { return static_cast<std::uint32_t>(v); }

// A file's delta times are variable-length numbers of at most four bytes.
bool delta_fits(std::int32_t time, std::int32_t previous) {
    return wrap(time) - wrap(previous) < (std::uint32_t{1} << 28);
}

bool names_a_note(std::size_t slot) {
    return slot == slot_note_on || slot == slot_note_off || slot == slot_poly_pressure;
}

// The lister prints a pitch bend as low + 128 x high of two bytes as read:
// the high byte takes what it can.
struct bend_bytes {
    int low;
    int high;
};
bend_bytes split_bend(std::int64_t value) {
    const int high = value / 128 < 255 ? static_cast<int>(value / 128) : 255;
    return {static_cast<int>(value) - 128 * high, high};
}
constexpr std::int64_t largest_bend = 255 + 255 * 128;

// A value's label from either format set, after its blank.
[[gnu::always_inline]] inline void take_either_label(field_cursor& c, const std::array<std::string_view, 2>& labels) {
    c.expect_blank("the value");
    if (!c.take_label(labels[0]) && !c.take_label(labels[1])) {
        field_cursor::fail(c.position(), "expected " + std::string(labels[0]) + "= or " + std::string(labels[1]) + "=");
    }
}

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
        auto data = std::make_unique<unsigned char[]>(capacity);
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

    // False once too many errors have been reported.
    bool line(const listing_line& line);
    int finish(std::int64_t lines_read);

private:
    void frame_line(field_cursor& c);
    void event_line(field_cursor& c);
    std::int32_t event_time(const time_field& t) const;

    bool quick_channel_line(const char* p, const char* end);
    void channel_event(field_cursor& c, std::size_t slot, std::int32_t time);
    [[gnu::always_inline]] void put_channel(std::int32_t time, std::size_t slot, int channel, int first, int second);
    void payload_event(field_cursor& c, event_kind kind, std::int32_t time);
    void meta_event(field_cursor& c, std::int32_t time);
    void time_signature(field_cursor& c, std::int32_t time);

    // Starts an event at `time`: its delta time goes into the track.
    void begin_event(std::int32_t time);
    void put(unsigned char byte) { track_.push_back(byte); }
    void put_vlq(std::uint32_t value) { track_.commit(smfasm::put_vlq(track_.room(5), value)); }
    void put_meta(int type, const unsigned char* data, std::size_t size);
    void put_meta(int type, std::initializer_list<unsigned char> data) { put_meta(type, data.begin(), data.size()); }
    void emit(const unsigned char* data, std::size_t size) { out_.write(data, size); }

    assembly_options options_;
    byte_sink& out_;
    message_log log_;
    const listing_line* line_ = nullptr;  // the line being read

    std::int64_t header_line_ = 0;  // 0 until the MFile line
    int announced_tracks_ = 0;
    int tracks_ = 0;
    std::int64_t track_line_ = 0;  // the open track's MTrk line, or 0
    metre metre_;

    track_bytes track_;
    std::int32_t previous_time_ = 0;
    int running_status_ = 0;     // the last channel status written, 0 after any other event
    std::size_t label_set_ = 0;  // the format set whose labels matched last
    payload_bytes payload_;
};

bool assembler::line(const listing_line& line) {
    line_ = &line;
    try {
        if (!line.ends_in_fold && quick_channel_line(line.begin, line.end)) return true;
        const char* begin = line.begin;
        while (begin != line.end && (*begin == ' ' || *begin == '\t')) ++begin;
        if (line.ends_in_fold) {
            log_.error(line, line.end - 1, "the listing ends inside a folded line");
        } else if (begin != line.end && *begin != '#') {
            field_cursor c(line.begin, line.end);
            if (is_time_start(*line.begin)) {
                event_line(c);
            } else {
                frame_line(c);
            }
        }
    } catch (const line_error& error) {
        log_.error(line, error.at, error.message);
    }
    return !log_.full();
}

void assembler::frame_line(field_cursor& c) {
    const char* start = c.position();
    const std::string_view word = c.word();
    if (word == keyword::header) {
        if (header_line_ != 0)
            field_cursor::fail(start, "a second MFile (the first is on line " + std::to_string(header_line_) + ")");
        c.expect_blank("the format");
        const auto format = static_cast<int>(c.number(0, 65535, "the format"));
        c.expect_blank("the track count");
        const auto tracks = static_cast<int>(c.number(0, 65535, "the track count"));
        c.expect_blank("the division");
        const auto division = static_cast<int>(c.number(-128, 32767, "the division"));
        int word16 = division;
        if (division < 0) {
            c.expect_blank("the ticks per frame");
            word16 = (division & 0xFF) << 8 | static_cast<int>(c.number(0, 255, "the ticks per frame"));
        }
        c.expect_end();
        header_line_ = line_->number;
        announced_tracks_ = tracks;
        metre_ = {division < 0, word16, word16, 4, 0, 0};
        const unsigned char bytes[14] = {'M',
                                         'T',
                                         'h',
                                         'd',
                                         0,
                                         0,
                                         0,
                                         6,
                                         static_cast<unsigned char>(format >> 8),
                                         static_cast<unsigned char>(format),
                                         static_cast<unsigned char>(tracks >> 8),
                                         static_cast<unsigned char>(tracks),
                                         static_cast<unsigned char>(word16 >> 8),
                                         static_cast<unsigned char>(word16)};
        emit(bytes, sizeof bytes);
        return;
    }
    if (word == keyword::track_start) {
        c.expect_end();
        if (header_line_ == 0) field_cursor::fail(start, "MTrk before the MFile line");
        if (track_line_ != 0) {
            field_cursor::fail(start, "MTrk inside the track begun on line " + std::to_string(track_line_) +
                                          " (its TrkEnd is missing)");
        }
        track_line_ = line_->number;
        track_.clear();
        previous_time_ = 0;
        running_status_ = 0;
        return;
    }
    if (word == keyword::track_end) {
        c.expect_end();
        if (track_line_ == 0) field_cursor::fail(start, "TrkEnd without its MTrk");
        const std::size_t size = track_.size();
        if (size > UINT32_MAX) field_cursor::fail(start, "the track is too long for a track chunk");
        const unsigned char head[8] = {'M',
                                       'T',
                                       'r',
                                       'k',
                                       static_cast<unsigned char>(size >> 24),
                                       static_cast<unsigned char>(size >> 16),
                                       static_cast<unsigned char>(size >> 8),
                                       static_cast<unsigned char>(size)};
        emit(head, sizeof head);
        emit(track_.data(), size);
        track_line_ = 0;
        ++tracks_;
        return;
    }
    if (word.empty()) field_cursor::fail(start, "expected a time, MFile, MTrk or TrkEnd");
    field_cursor::fail(start, "unknown keyword \"" + std::string(word) + "\"");
}

std::int32_t assembler::event_time(const time_field& t) const {
    if (!t.measure) return t.ticks;
    const metre& m = metre_;
    if (m.smpte || m.ticks_per_beat == 0 || m.beats_per_measure == 0) {
        field_cursor::fail(t.at, "a measure time needs a metre, and " +
                                     std::string(m.smpte ? "SMPTE time has none" : "the metre here is unusable") +
                                     ": write the time in ticks");
    }
    // The lister's column run backwards, in the same wrapping arithmetic.
    const std::uint32_t beats = (wrap(t.ticks) - wrap(m.measure_offset)) * wrap(m.beats_per_measure) + wrap(t.beat);
    return static_cast<std::int32_t>(beats * wrap(m.ticks_per_beat) + wrap(t.tick) + wrap(m.last_time_sig_time));
}

void assembler::event_line(field_cursor& c) {
    const time_field t = c.time();
    c.expect_blank("the event");
    const char* start = c.position();
    const std::string_view word = c.word();
    const keyword_entry* entry = keywords().find(word);
    if (entry == nullptr) {
        if (word.empty()) field_cursor::fail(start, "expected an event keyword");
        field_cursor::fail(start, "unknown keyword \"" + std::string(word) + "\"");
    }
    if (track_line_ == 0) {
        field_cursor::fail(t.at,
                           header_line_ == 0 ? "an event before the MFile line" : "an event outside MTrk ... TrkEnd");
    }
    const std::int32_t time = event_time(t);
    if (!delta_fits(time, previous_time_)) {
        // Reported, but the line is still read and its time taken: later
        // lines are then judged against it, and a time signature still
        // moves the metre, so one slip gives one message.
        log_.error(
            *line_, t.at,
            "time goes backwards: tick " + std::to_string(time) + " after tick " + std::to_string(previous_time_));
    }
    switch (entry->kind) {
        case event_kind::channel: channel_event(c, entry->slot, time); break;
        case event_kind::meta: meta_event(c, time); break;
        case event_kind::time_signature: time_signature(c, time); break;
        default: payload_event(c, entry->kind, time); break;
    }
}

void assembler::begin_event(std::int32_t time) {
    put_vlq(wrap(time) - wrap(previous_time_));
    previous_time_ = time;
}

void assembler::put_meta(int type, const unsigned char* data, std::size_t size) {
    put(0xFF);
    put(static_cast<unsigned char>(type));
    put_vlq(static_cast<std::uint32_t>(size));
    track_.append(data, size);
    running_status_ = 0;
}

void assembler::channel_event(field_cursor& c, std::size_t slot, std::int32_t time) {
    const channel_syntax& syntax = keywords().syntax(slot);
    c.expect_blank("the channel");
    if (!c.take_label(syntax.channel_label)) {
        field_cursor::fail(c.position(), "expected " + std::string(syntax.channel_label) + "=");
    }
    const auto channel = static_cast<int>(c.number(1, 16, "the channel"));
    take_either_label(c, syntax.second);
    int first = 0;
    int second = -1;  // none
    if (names_a_note(slot)) {
        first = c.note();
    } else if (slot == slot_pitch_bend) {
        const bend_bytes bend = split_bend(c.number(0, largest_bend, "the pitch bend"));
        first = bend.low;
        second = bend.high;
    } else {
        first = static_cast<int>(c.number(0, 255, "the value"));
    }
    if (!syntax.third[0].empty()) {
        take_either_label(c, syntax.third);
        second = static_cast<int>(c.number(0, 255, "the value"));
    }
    c.expect_end();
    put_channel(time, slot, channel, first, second);
}

[[gnu::always_inline]] inline void assembler::put_channel(std::int32_t time, std::size_t slot, int channel, int first,
                                                          int second) {
    unsigned char* out = smfasm::put_vlq(track_.room(8), wrap(time) - wrap(previous_time_));
    previous_time_ = time;
    const int status = channel_slot_status[slot] | (channel - 1);
    // A first data byte of 128 or more would read as a status byte.
    if (status != running_status_ || first >= 0x80 || !options_.running_status) {
        *out++ = static_cast<unsigned char>(status);
    }
    *out++ = static_cast<unsigned char>(first);
    if (second >= 0) *out++ = static_cast<unsigned char>(second);
    track_.commit(out);
    running_status_ = status;
}

namespace {

bool is_digit(char c) { return static_cast<unsigned>(c - '0') < 10; }

// A number of at most `digits` digits at p, moved past them; -1 when there
// are none or more.
[[gnu::always_inline]] inline std::int64_t quick_number(const char*& p, int digits) {
    // One to three digits, the size of nearly every value, without a loop.
    const unsigned d0 = static_cast<unsigned char>(p[0]) - unsigned{'0'};
    if (d0 > 9) return -1;
    const unsigned d1 = static_cast<unsigned char>(p[1]) - unsigned{'0'};
    if (d1 > 9) {
        p += 1;
        return d0;
    }
    const unsigned d2 = static_cast<unsigned char>(p[2]) - unsigned{'0'};
    if (d2 > 9) {
        p += 2;
        return digits >= 2 ? d0 * 10 + d1 : -1;
    }
    if (static_cast<unsigned>(static_cast<unsigned char>(p[3]) - unsigned{'0'}) > 9) {
        p += 3;
        return digits >= 3 ? d0 * 100 + d1 * 10 + d2 : -1;
    }
    const char* q = p;
    std::uint64_t value = 0;
    for (unsigned d; (d = static_cast<unsigned char>(*q) - unsigned{'0'}) < 10 && q - p <= digits; ++q) {
        value = value * 10 + d;
    }
    const std::ptrdiff_t count = q - p;
    p = q;
    return count > digits ? -1 : static_cast<std::int64_t>(value);
}

// The same for the time column's longer numbers: up to eight digits are
// found and converted eight bytes at a time (the reader keeps room behind
// every line for such a load).
[[gnu::always_inline]] inline std::int64_t quick_long_number(const char*& p, int digits) {
    if constexpr (std::endian::native != std::endian::little) return quick_number(p, digits);
    std::uint64_t chunk;
    std::memcpy(&chunk, p, sizeof chunk);
    std::uint64_t values = chunk ^ 0x3030303030303030u;  // digits become 0 to 9
    const std::uint64_t others = ((values + 0x7676767676767676u) | values) & 0x8080808080808080u;
    // Eight digits fill the load: the byte behind them must end the number.
    if (others != 0 || static_cast<unsigned>(static_cast<unsigned char>(p[8]) - unsigned{'0'}) > 9) {
        const int count = others != 0 ? std::countr_zero(others) / 8 : 8;  // little-endian: the first byte is lowest
        if (count == 0 || count > digits) return -1;
        p += count;
        // Shifted to the top with zero digits in front, then combined in
        // pairs, fours and eights.
        if (count < 8) values <<= 64 - 8 * count;
        values = values * 10 + (values >> 8);
        values = ((values & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
                  ((values >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
                 32;
        return static_cast<std::int64_t>(values);
    }
    return quick_number(p, digits);
}

[[gnu::always_inline]] inline bool quick_label(const char*& p, const packed_label& label) {
    if ((load8(p) & label.mask) != label.key) return false;
    p += label.size;
    return true;
}

// "-123" or "123" as a 32-bit time part.
[[gnu::always_inline]] inline bool quick_time_part(const char*& p, std::int32_t& part) {
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    const std::int64_t value = quick_long_number(p, 10);
    if (value < 0 || value > (negative ? std::int64_t{1} << 31 : INT32_MAX)) return false;
    part = static_cast<std::int32_t>(negative ? -value : value);
    return true;
}

}  // namespace

// The commonest line by far: a channel event exactly as the lister writes
// it ("1662 On ch=1 n=42 v=15"), read in one pass through a local pointer.
// Any other shape, and every error, is left to the general parser, which
// reads the line again and words the message.
bool assembler::quick_channel_line(const char* p, const char* end) {
    if (track_line_ == 0) return false;
    time_field t;
    t.at = p;
    if (!quick_time_part(p, t.ticks)) return false;
    if (*p == ':') {
        t.measure = true;
        ++p;
        if (!quick_time_part(p, t.beat) || *p != ':') return false;
        ++p;
        if (!quick_time_part(p, t.tick)) return false;
    }
    if (*p++ != ' ') return false;
    const char* word = p;
    while (static_cast<unsigned>((*p | 0x20) - 'a') < 26) ++p;
    const keyword_entry* entry = keywords().find_at(word, static_cast<std::size_t>(p - word));
    if (entry == nullptr || entry->kind != event_kind::channel || *p++ != ' ') return false;
    const std::size_t slot = entry->slot;
    const channel_syntax& syntax = keywords().syntax(slot);
    if (!quick_label(p, syntax.packed_channel)) return false;
    const std::int64_t channel = quick_number(p, 2);
    if (channel < 1 || channel > 16 || *p++ != ' ') return false;
    // A listing keeps to one format set: the one that matched last is tried
    // first.
    if (!quick_label(p, syntax.packed_second[label_set_])) {
        label_set_ = 1 - label_set_;
        if (!quick_label(p, syntax.packed_second[label_set_])) return false;
    }
    std::int64_t first = 0;
    std::int64_t second = -1;
    if (names_a_note(slot)) {
        if (is_digit(*p)) {
            first = quick_number(p, 3);
        } else {
            // A copy, so that the scan pointer's address never escapes and
            // it stays in a register.
            const char* name = p;
            first = read_note_name(name);
            p = name;
        }
        if (first < 0 || first > 255) return false;
    } else if (slot == slot_pitch_bend) {
        const std::int64_t value = quick_number(p, 5);
        if (value < 0 || value > largest_bend) return false;
        const bend_bytes bend = split_bend(value);
        first = bend.low;
        second = bend.high;
    } else {
        first = quick_number(p, 3);
        if (first < 0 || first > 255) return false;
    }
    if (!syntax.third[0].empty()) {
        if (*p++ != ' ') return false;
        if (!quick_label(p, syntax.packed_third[label_set_])) return false;
        second = quick_number(p, 3);
        if (second < 0 || second > 255) return false;
    }
    if (p != end) return false;
    const std::int32_t time = event_time(t);
    if (!delta_fits(time, previous_time_)) return false;
    put_channel(time, slot, static_cast<int>(channel), static_cast<int>(first), static_cast<int>(second));
    return true;
}

void assembler::payload_event(field_cursor& c, event_kind kind, std::int32_t time) {
    payload_.clear();
    std::int64_t values[5] = {};
    const auto value = [&c](std::int64_t high, const char* what) {
        c.expect_blank(what);
        return c.number(0, high, what);
    };
    switch (kind) {
        case event_kind::sysex:
        case event_kind::arbitrary:
        case event_kind::sequencer_specific: {
            c.skip_blanks();
            const char* start = c.position();
            c.hex_bytes(payload_);
            if (kind == event_kind::sysex && (payload_.empty() || payload_[0] != 0xF0)) {
                field_cursor::fail(start, "a SysEx line must start with f0");
            }
            if (payload_.size() >= (std::size_t{1} << 28)) field_cursor::fail(start, "the payload is too long");
            break;
        }
        case event_kind::sequence_number: values[0] = value(65535, "the sequence number"); break;
        case event_kind::tempo: values[0] = value(0xFFFFFF, "the tempo"); break;
        case event_kind::smpte:
            for (std::int64_t& v : values) v = value(255, "the SMPTE value");
            break;
        case event_kind::key_signature: {
            c.expect_blank("the accidentals");
            values[0] = c.number(-128, 127, "the accidentals");
            c.expect_blank("major or minor");
            const char* start = c.position();
            const std::string_view mode = c.word();
            if (mode != keyword::major && mode != keyword::minor) field_cursor::fail(start, "expected major or minor");
            values[1] = mode == keyword::minor ? 1 : 0;
            break;
        }
        default: break;
    }
    c.expect_end();

    begin_event(time);
    const auto byte = [](std::int64_t v) { return static_cast<unsigned char>(v); };
    switch (kind) {
        case event_kind::sysex: {
            put(0xF0);
            put_vlq(static_cast<std::uint32_t>(payload_.size() - 1));
            track_.append(payload_.data() + 1, payload_.size() - 1);
            // A joined message the lister closed on an empty packet: the
            // same packet again, so that the file lists the same way.
            if (!options_.packets && (payload_.size() == 1 || payload_.back() != 0xF7)) {
                put(0x00);
                put(0xF7);
                put(0x00);
            }
            running_status_ = 0;
            break;
        }
        case event_kind::arbitrary:
            put(0xF7);
            put_vlq(static_cast<std::uint32_t>(payload_.size()));
            track_.append(payload_.data(), payload_.size());
            running_status_ = 0;
            break;
        case event_kind::sequencer_specific:
            put_meta(meta_type::sequencer_specific, payload_.data(), payload_.size());
            break;
        case event_kind::sequence_number:
            put_meta(meta_type::sequence_number, {byte(values[0] >> 8), byte(values[0])});
            break;
        case event_kind::tempo:
            put_meta(meta_type::tempo, {byte(values[0] >> 16), byte(values[0] >> 8), byte(values[0])});
            break;
        case event_kind::smpte:
            put_meta(meta_type::smpte,
                     {byte(values[0]), byte(values[1]), byte(values[2]), byte(values[3]), byte(values[4])});
            break;
        case event_kind::key_signature: put_meta(meta_type::key_signature, {byte(values[0]), byte(values[1])}); break;
        default: break;
    }
}

void assembler::meta_event(field_cursor& c, std::int32_t time) {
    c.expect_blank("the meta type");
    payload_.clear();
    const char* start = c.position();
    int type = -1;
    bool text = true;
    if (c.looking_at("0x")) {
        type = c.hex_type();
        c.skip_blanks();
        text = !c.at_end() && *c.position() == '"';
    } else {
        const std::string_view name = c.word();
        if (name == keyword::end_of_track) {
            c.expect_end();
            begin_event(time);
            put_meta(meta_type::end_of_track, nullptr, 0);
            return;
        }
        if (name == keyword::sequence_name) type = meta_type::sequence_name;
        for (std::size_t i = 1; i < meta_text_names.size() && type < 0; ++i) {
            if (!name.empty() && name == meta_text_names[i]) type = static_cast<int>(i);
        }
        if (type < 0) field_cursor::fail(start, "unknown meta name \"" + std::string(name) + "\"");
        c.expect_blank("the quoted text");
    }
    if (text) {
        c.quoted(payload_);
    } else {
        c.hex_bytes(payload_);
    }
    c.expect_end();
    if (payload_.size() >= (std::size_t{1} << 28)) field_cursor::fail(start, "the payload is too long");
    begin_event(time);
    put_meta(type, payload_.data(), payload_.size());
}

void assembler::time_signature(field_cursor& c, std::int32_t time) {
    c.expect_blank("the numerator");
    const auto numerator = static_cast<int>(c.number(0, 255, "the numerator"));
    c.expect("/", "\"/\" and the denominator");
    const char* start = c.position();
    const std::int64_t denominator = c.number(INT32_MIN, INT32_MAX, "the denominator");
    // The lister doubles in 32 bits: exponent 31 prints as -2147483648 and
    // anything larger as 0; those read back as 31 and 32.
    int exponent = 0;
    if (denominator == 0) {
        exponent = 32;
    } else if (denominator == INT32_MIN) {
        exponent = 31;
    } else if (denominator > 0 && (denominator & (denominator - 1)) == 0) {
        while ((std::int64_t{1} << exponent) != denominator) ++exponent;
    } else {
        field_cursor::fail(start, "the TimeSig denominator " + std::to_string(denominator) + " is not a power of two");
    }
    c.expect_blank("the clocks per click");
    const auto clocks = static_cast<int>(c.number(0, 255, "the clocks per click"));
    c.expect_blank("the 32nds per quarter");
    const auto thirty_seconds = static_cast<int>(c.number(0, 255, "the 32nds per quarter"));
    c.expect_end();

    begin_event(time);
    put_meta(meta_type::time_signature,
             {static_cast<unsigned char>(numerator), static_cast<unsigned char>(exponent),
              static_cast<unsigned char>(clocks), static_cast<unsigned char>(thirty_seconds)});

    // The metre moves exactly as the lister moves it.
    metre& m = metre_;
    const std::int32_t ticks_per_measure = m.ticks_per_beat * m.beats_per_measure;
    if (ticks_per_measure != 0) {
        const auto elapsed = static_cast<std::int32_t>(wrap(time) - wrap(m.last_time_sig_time));
        m.measure_offset = static_cast<std::int32_t>(wrap(m.measure_offset) + wrap(elapsed / ticks_per_measure));
    }
    m.last_time_sig_time = time;
    m.beats_per_measure = numerator;
    const std::int32_t denominator_value = exponent < 31 ? std::int32_t{1} << exponent : 0;
    m.ticks_per_beat = denominator_value > 0 ? m.division * 4 / denominator_value : 0;
}

int assembler::finish(std::int64_t lines_read) {
    if (track_line_ != 0 && !log_.full()) {
        log_.error(
            lines_read + 1, 1,
            "the listing ends inside the track begun on line " + std::to_string(track_line_) + " (TrkEnd missing)");
    }
    if (log_.errors() == 0 && header_line_ != 0 && tracks_ != announced_tracks_) {
        log_.warning(0, 0,
                     "MFile announces " + std::to_string(announced_tracks_) + " tracks, the listing holds " +
                         std::to_string(tracks_));
    }
    log_.finish();
    return log_.errors();
}

}  // namespace

int assemble(listing_reader& in, const char* name, const assembly_options& options, byte_sink& out, std::FILE* messages,
             std::vector<assembly_message>* collected) {
    assembler a(name, options, out, messages, collected);
    listing_line line;
    while (in.next(line)) {
        if (!a.line(line)) break;
    }
    return a.finish(in.lines_read());
}

}  // namespace smfasm
