#include "score/song.h"

#include <algorithm>

namespace smfasm::score {

namespace {

constexpr int meta_status = 0xFF;
constexpr int time_signature_type = 0x58;

// A stop with its place in the file, thrown from deep in a track and caught
// once at the top.
struct stop {
    std::size_t offset;
    const char* text;
};

class cursor {
public:
    cursor(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t offset() const { return at_; }
    std::size_t left() const { return size_ - at_; }
    const unsigned char* here() const { return data_ + at_; }

    int byte() {
        if (at_ == size_) throw stop{at_, "the file ends inside an event"};
        return data_[at_++];
    }
    std::uint32_t u32() {
        need(4, "the file ends inside a chunk's length");
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | data_[at_++];
        return value;
    }
    int u16() {
        const int high = byte();
        return high << 8 | byte();
    }
    // A variable-length number, which must be written in as few bytes as
    // its value needs: the table keeps values, not spellings, so a padded
    // one could not be given back.
    std::uint32_t vlq() {
        const std::size_t start = at_;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int b = byte();
            if (i == 0 && b == 0x80) throw stop{start, "a variable-length number padded with leading zero bytes"};
            value = value << 7 | static_cast<std::uint32_t>(b & 0x7F);
            if ((b & 0x80) == 0) return value;
        }
        throw stop{start, "a variable-length number longer than four bytes"};
    }
    void need(std::size_t count, const char* text) const {
        if (left() < count) throw stop{at_, text};
    }
    void skip(std::size_t count) { at_ += count; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::uint8_t data_byte(cursor& in) { return static_cast<std::uint8_t>(in.byte()); }

void hold_payload(cursor& in, track_record& record, track_event& e) {
    const std::uint32_t length = in.vlq();
    in.need(length, "the file ends inside a SysEx or meta event");
    e.payload = static_cast<std::uint32_t>(record.payload.size());
    e.length = static_cast<std::int32_t>(length);
    record.payload.insert(record.payload.end(), in.here(), in.here() + length);
    in.skip(length);
}

void read_track(cursor& in, song_track& track) {
    track.declared_length = in.u32();
    const std::size_t start = in.offset();
    // Signed, as the lister counts it: a length of 2^31 or more reads no events.
    const auto declared = static_cast<std::int64_t>(static_cast<std::int32_t>(track.declared_length));
    track_record& record = track.record;
    // Most events take three bytes or more: one allocation for nearly all.
    record.events.reserve(std::min<std::size_t>(in.left(), track.declared_length) / 3);
    track_tally& tally = record.tally;
    waiting_notes& notes = tally.notes();
    const auto in_track = [&in, start, declared] { return static_cast<std::int64_t>(in.offset() - start) < declared; };
    std::int64_t time = 0;
    while (in_track()) {
        // Channel events are written and counted through locals a stretch
        // at a time (see track_tally::channel), with room made for as many
        // as the stretch holds at two bytes each; anything else ends it.
        constexpr std::size_t stretch = 4096;
        const std::size_t stretch_end = in.offset() + stretch;
        record.events.room(stretch / 2 + 2);
        track_event* const all = record.events.data();
        // The tally's last channel status is the running status.
        tally_state counting = tally.now;
        int other = -1;  // the status byte of an event that is not a channel event
        std::size_t event_start = 0;
        std::uint32_t delta = 0;
        while (in.offset() < stretch_end && in_track()) {
            event_start = in.offset();
            const unsigned char* const q = in.here();
            unsigned status = 0;
            unsigned first = 0;
            unsigned second = 0;
            bool running = false;
            if (in.left() >= 4 && q[0] < 0x80 && (q[1] >= 0x80 ? q[1] <= 0xEF : counting.last_status != 0)) {
                // The commonest event, a channel event with a one-byte time
                // step, read with no test per byte where the file holds its
                // longest (four bytes).
                delta = q[0];
                running = q[1] < 0x80;
                status = running ? counting.last_status : q[1];
                const unsigned char* d = q + (running ? 1 : 2);
                first = *d++;
                const unsigned kind = status & 0xF0u;
                if (kind != 0xC0 && kind != 0xD0) second = *d++;
                in.skip(static_cast<std::size_t>(d - q));
            } else {
                delta = in.vlq();
                const int b = in.byte();
                status = static_cast<unsigned>(b);
                running = b < 0x80;
                if (running) {
                    if (counting.last_status == 0) {
                        throw stop{event_start, "running status with no status byte before it"};
                    }
                    status = counting.last_status;
                    first = static_cast<unsigned>(b);
                } else if (b <= 0xEF) {
                    first = data_byte(in);
                } else {
                    other = b;
                    break;
                }
                const unsigned kind = status & 0xF0u;
                if (kind != 0xC0 && kind != 0xD0) second = data_byte(in);
            }
            time += delta;
            tally.channel(counting, notes, all, delta != 0, time, status, first, second, running);
        }
        record.events.added(counting.counted - record.events.size());
        tally.now = counting;
        if (other < 0) continue;
        time += delta;
        record.clock = time;
        if (other == 0xF0 || other == 0xF7) {
            track_event& e = record.add_other(other == 0xF0 ? event_type::sysex : event_type::arbitrary, other);
            hold_payload(in, record, e);
        } else if (other == meta_status) {
            const int type = data_byte(in);
            hold_payload(in, record, record.add_other(event_type::meta, type));
        } else {
            throw stop{event_start, "a status byte that no event of a file starts with"};
        }
    }
    track.found_length = in.offset() - start;
    track.habits = analyse_track(record);
}

void add_time_signatures(const track_record& record, metre_map& metre) {
    int numerator = 0;
    int exponent = 0;
    for (const track_event& e : record.events) {
        if (is_time_signature(record, e, numerator, exponent)) metre.add_time_signature(e.time, numerator, exponent);
    }
}

void decode(cursor& in, song& out) {
    static constexpr unsigned char header_tag[] = {'M', 'T', 'h', 'd'};
    static constexpr unsigned char track_tag[] = {'M', 'T', 'r', 'k'};
    const auto tag_is = [&in](const unsigned char* tag) {
        return in.left() >= 4 && std::equal(tag, tag + 4, in.here());
    };
    if (!tag_is(header_tag)) throw stop{0, "not a MIDI file: it does not start with MThd"};
    in.skip(4);
    out.header_length = in.u32();
    in.need(6, "the file ends inside its header");
    out.format = in.u16();
    out.track_count = in.u16();
    out.division = in.u16();
    // Signed, as the lister counts it.
    const std::int64_t extra = static_cast<std::int64_t>(static_cast<std::int32_t>(out.header_length)) - 6;
    if (extra > 0) {
        in.need(static_cast<std::size_t>(extra), "the file ends inside its header");
        out.header_extra.assign(in.here(), in.here() + extra);
        in.skip(static_cast<std::size_t>(extra));
    }
    while (in.left() > 0) {
        if (!tag_is(track_tag)) {
            throw stop{in.offset(), in.left() < 4 ? "bytes after the last track that are no chunk"
                                                  : "a chunk that is not a track (only MTrk chunks may follow MThd)"};
        }
        in.skip(4);
        read_track(in, out.tracks.emplace_back());
    }
    const int division = (out.division & 0x8000) != 0 ? 0 : out.division;
    out.metre.reset(division);
    if (out.format == 2) {
        out.track_metres.resize(out.tracks.size());
        for (std::size_t t = 0; t < out.tracks.size(); ++t) {
            out.track_metres[t].reset(division);
            add_time_signatures(out.tracks[t].record, out.track_metres[t]);
        }
    } else if (!out.tracks.empty()) {
        add_time_signatures(out.tracks.front().record, out.metre);
    }
}

}  // namespace

bool is_time_signature(const track_record& record, const track_event& e, int& numerator, int& exponent) {
    if (e.type != event_type::meta || e.status != time_signature_type || e.length != 4) return false;
    const unsigned char* data = record.payload.data() + e.payload;
    numerator = data[0];
    exponent = data[1];
    return exponent <= 32;
}

song_error decode_song(const unsigned char* data, std::size_t size, song& out) {
    out = song{};
    cursor in(data, size);
    try {
        decode(in, out);
    } catch (const stop& s) {
        return {s.offset, s.text};
    }
    return {};
}

}  // namespace smfasm::score
