#include "api/event_table.h"

#include <cstdio>
#include <limits>

namespace smfasm {

namespace {

// The largest number four bytes of a variable-length number hold.
constexpr std::int64_t largest_vlq = 0x0FFFFFFF;

template <class... T>
void resize_all(std::size_t rows, T&... columns) {
    (columns.resize(rows), ...);
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void put_u16(std::vector<unsigned char>& out, std::int32_t v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void put_vlq(std::vector<unsigned char>& out, std::uint32_t v) {
    if (v >= 1u << 21) out.push_back(static_cast<unsigned char>(0x80 | (v >> 21)));
    if (v >= 1u << 14) out.push_back(static_cast<unsigned char>(0x80 | ((v >> 14) & 0x7F)));
    if (v >= 1u << 7) out.push_back(static_cast<unsigned char>(0x80 | ((v >> 7) & 0x7F)));
    out.push_back(static_cast<unsigned char>(v & 0x7F));
}

std::string row_error(std::size_t row, const char* text) {
    char head[48];
    std::snprintf(head, sizeof head, "row %zu: ", row);
    return head + std::string(text);
}

bool is_channel_kind(unsigned kind) { return kind >= 0x80 && kind <= 0xE0 && (kind & 0x0F) == 0; }

// One track chunk's events, rows [first, last); appends the chunk.
std::string write_track(const event_columns& c, std::size_t t, std::size_t first, std::size_t last,
                        std::vector<unsigned char>& out) {
    out.insert(out.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
    const std::size_t start = out.size();
    std::size_t last_event_start = 0;
    std::int64_t time = 0;
    int running_status = 0;
    for (std::size_t i = first; i < last; ++i) {
        const std::int64_t delta = c.tick[i] - time;
        if (delta < 0) return row_error(i, "its tick is before the tick of the row before it in its track");
        if (delta > largest_vlq) return row_error(i, "more than 2^28 - 1 ticks after the event before it");
        time = c.tick[i];
        last_event_start = out.size() - start;
        put_vlq(out, static_cast<std::uint32_t>(delta));
        const unsigned kind = c.kind[i];
        if (is_channel_kind(kind)) {
            if (c.channel[i] < 0 || c.channel[i] > 15)
                return row_error(i, "a channel message's channel is not 0 to 15");
            const int status = static_cast<int>(kind) | c.channel[i];
            // Left out only where a reader takes the data byte for what it is.
            if (c.running[i] == 0 || status != running_status || c.data1[i] >= 0x80) {
                out.push_back(static_cast<unsigned char>(status));
                running_status = status;
            }
            out.push_back(c.data1[i]);
            if (kind != 0xC0 && kind != 0xD0) out.push_back(c.data2[i]);
            continue;
        }
        if (kind != 0xF0 && kind != 0xF7 && kind != 0xFF) return row_error(i, "its kind is no kind of event");
        const std::int64_t offset = c.offset[i];
        const std::int64_t length = c.length[i];
        if (offset < 0 || length < 0 || static_cast<std::uint64_t>(offset) > c.blob_size ||
            static_cast<std::uint64_t>(length) > c.blob_size - static_cast<std::uint64_t>(offset)) {
            return row_error(i, "its payload's offset and length lie outside the blob");
        }
        if (length > largest_vlq) return row_error(i, "a payload longer than 2^28 - 1 bytes");
        out.push_back(static_cast<unsigned char>(kind));
        if (kind == 0xFF) out.push_back(c.data1[i]);
        put_vlq(out, static_cast<std::uint32_t>(length));
        out.insert(out.end(), c.blob + offset, c.blob + offset + length);
    }
    const std::size_t found = out.size() - start;
    if (found > std::numeric_limits<std::uint32_t>::max()) return "a track of more than 4 GiB";
    std::int64_t declared = c.track_length[t];
    if (declared == no_value) {
        declared = static_cast<std::int64_t>(found);
    } else {
        if (declared < 0 || declared > std::numeric_limits<std::uint32_t>::max()) {
            return "track " + std::to_string(t) + ": its declared length is not a 32-bit length";
        }
        // A reader takes events while the declared end lies ahead: the
        // last event must start before it, and end at or after it.
        const std::int64_t reach = static_cast<std::int32_t>(static_cast<std::uint32_t>(declared));
        const bool fits = static_cast<std::int64_t>(found) >= reach &&
                          (first == last || static_cast<std::int64_t>(last_event_start) < reach);
        if (!fits) {
            return "track " + std::to_string(t) +
                   ": its declared length no longer fits its events (set it to -1 to write their own)";
        }
    }
    const auto length = static_cast<std::uint32_t>(declared);
    for (int k = 0; k < 4; ++k)
        out[start - 4 + static_cast<std::size_t>(k)] = static_cast<unsigned char>(length >> (24 - 8 * k));
    return {};
}

}  // namespace

void table_from_song(const score::song& song, event_table& out) {
    out = event_table{};
    out.format = song.format;
    out.track_count = song.track_count;
    out.division = song.division;
    out.header_length = song.header_length;
    out.header_extra = song.header_extra;
    std::size_t rows = 0;
    std::size_t payload = 0;
    for (const score::song_track& t : song.tracks) {
        rows += t.record.events.size();
        payload += t.record.payload.size();
        out.track_length.push_back(t.declared_length == t.found_length ? no_value : t.declared_length);
        out.end_velocity.push_back(static_cast<std::int16_t>(t.habits.end_velocity));
        out.running_mask.push_back(static_cast<std::uint8_t>(t.habits.running));
        out.carry.push_back(t.habits.carry ? 1 : 0);
        out.reverse.push_back(t.habits.reverse ? 1 : 0);
    }
    // Every column is sized once and filled through plain pointers.
    resize_all(rows, out.track, out.tick, out.bar, out.beat, out.beat_tick, out.kind, out.channel, out.data1, out.data2,
               out.note_length, out.partner, out.running, out.status_mark, out.end_position, out.offset, out.length);
    out.blob.reserve(payload);
    std::size_t row = 0;
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        const score::track_record& record = song.tracks[t].record;
        const score::status_mark_table marks = score::status_marks(song.tracks[t].habits);
        // A track that moves the bars is placed as the score form writes
        // it: each event by the bars its TimeSig events so far have made.
        score::metre_map moving;
        moving.reset((song.division & 0x8000) != 0 ? 0 : song.division);
        const bool moves = song.moves_metre(t);
        const score::metre_map& metre = moves ? moving : song.metre_of(t);
        score::beat_span beat;
        int numerator = 0;
        int exponent = 0;
        const auto base = static_cast<std::int64_t>(row);
        const auto blob_base = static_cast<std::int64_t>(out.blob.size());
        out.blob.insert(out.blob.end(), record.payload.begin(), record.payload.end());
        const score::track_event* events = record.events.data();
        for (std::size_t i = 0; i < record.events.size(); ++i, ++row) {
            const score::track_event& e = events[i];
            out.track[row] = static_cast<std::int32_t>(t);
            out.tick[row] = e.time;
            if (beat.holds(e.time) || metre.find_beat(e.time, beat)) {
                out.bar[row] = beat.bar;
                out.beat[row] = beat.beat;
                out.beat_tick[row] = e.time - beat.begin;
            } else {
                out.bar[row] = out.beat[row] = out.beat_tick[row] = no_value;
            }
            const bool channel = e.type == score::event_type::channel;
            out.kind[row] = static_cast<std::uint8_t>(channel                              ? e.status & 0xF0
                                                      : e.type == score::event_type::meta  ? 0xFF
                                                      : e.type == score::event_type::sysex ? 0xF0
                                                                                           : 0xF7);
            out.channel[row] = static_cast<std::int8_t>(channel ? e.status & 0x0F : -1);
            out.data1[row] = channel ? e.first : e.type == score::event_type::meta ? e.status : 0;
            out.data2[row] = channel ? e.second : 0;
            const bool paired = channel && (e.is_start() || e.is_end());
            out.partner[row] = paired ? base + e.partner : no_value;
            out.note_length[row] = (e.status_case & score::status_case::start) != 0 && channel
                                       ? events[static_cast<std::size_t>(e.partner)].time - e.time
                                       : no_value;
            out.running[row] = e.running ? 1 : 0;
            out.status_mark[row] = channel ? marks[e.status_case] : score::status_as_rule;
            out.end_position[row] = channel && e.is_start() ? e.end_position : -1;
            out.offset[row] = channel ? 0 : blob_base + e.payload;
            out.length[row] = channel ? 0 : e.length;
            if (moves && !channel && score::is_time_signature(record, e, numerator, exponent)) {
                moving.add_time_signature(e.time, numerator, exponent);
                beat = score::beat_span{};
            }
        }
    }
}

event_columns columns_of(const event_table& table) {
    event_columns c;
    c.format = table.format;
    c.track_count = table.track_count;
    c.division = table.division;
    c.header_length = table.header_length;
    c.header_extra = table.header_extra.data();
    c.header_extra_size = table.header_extra.size();
    c.tracks = table.track_length.size();
    c.track_length = table.track_length.data();
    c.rows = table.track.size();
    c.track = table.track.data();
    c.tick = table.tick.data();
    c.kind = table.kind.data();
    c.channel = table.channel.data();
    c.data1 = table.data1.data();
    c.data2 = table.data2.data();
    c.running = table.running.data();
    c.offset = table.offset.data();
    c.length = table.length.data();
    c.blob = table.blob.data();
    c.blob_size = table.blob.size();
    return c;
}

std::string write_table(const event_columns& c, std::vector<unsigned char>& out) {
    out.clear();
    for (const std::int32_t value : {c.format, c.track_count, c.division}) {
        if (value < 0 || value > 0xFFFF) return "the header's format, track count and division are 16-bit numbers";
    }
    if (c.header_length < 0 || c.header_length > std::numeric_limits<std::uint32_t>::max()) {
        return "the header's length is not a 32-bit length";
    }
    // Signed, as a reader counts it: lengths of 2^31 or more hold no extra bytes.
    const std::int64_t extra = static_cast<std::int32_t>(static_cast<std::uint32_t>(c.header_length)) - std::int64_t{6};
    if (static_cast<std::int64_t>(c.header_extra_size) != (extra > 0 ? extra : 0)) {
        return "the header's extra bytes do not match its declared length";
    }
    out.insert(out.end(), {'M', 'T', 'h', 'd'});
    put_u32(out, static_cast<std::uint32_t>(c.header_length));
    put_u16(out, c.format);
    put_u16(out, c.track_count);
    put_u16(out, c.division);
    out.insert(out.end(), c.header_extra, c.header_extra + c.header_extra_size);
    std::size_t row = 0;
    for (std::size_t t = 0; t < c.tracks; ++t) {
        const std::size_t first = row;
        while (row < c.rows && c.track[row] == static_cast<std::int64_t>(t)) ++row;
        std::string error = write_track(c, t, first, row, out);
        if (!error.empty()) {
            out.clear();
            return error;
        }
    }
    if (row < c.rows) {
        out.clear();
        return row_error(row, "its track is out of order, or not one of the table's tracks");
    }
    return {};
}

}  // namespace smfasm
