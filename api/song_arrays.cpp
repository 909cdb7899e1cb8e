#include "api/song_arrays.h"

#include <limits>
#include <utility>

namespace smfasm {

namespace {

constexpr int tempo_type = 0x51;

struct signature {
    std::int64_t time;
    int exponent;
};

void add_notes(const score::track_record& record, std::uint16_t track, song_arrays& out) {
    for (const score::track_event& e : record.events) {
        if (e.type != score::event_type::channel) continue;
        const unsigned kind = e.status & 0xF0u;
        const auto channel = static_cast<std::uint8_t>(e.status & 0x0F);
        if (kind == 0xC0) {
            out.program_track.push_back(track);
            out.program_channel.push_back(channel);
            out.program_tick.push_back(static_cast<double>(e.time));
            out.program.push_back(e.first);
        } else if (score::ends_a_note(e)) {
            if (e.partner != score::no_event) continue;
            out.off_track.push_back(track);
            out.off_channel.push_back(channel);
            out.off_key.push_back(e.first);
            out.off_tick.push_back(static_cast<double>(e.time));
        } else if (kind == 0x90) {
            out.note_track.push_back(track);
            out.note_channel.push_back(channel);
            out.note_key.push_back(e.first);
            out.note_velocity.push_back(e.second);
            out.note_start.push_back(static_cast<double>(e.time));
            const bool ends = e.partner != score::no_event;
            out.note_length.push_back(
                ends ? static_cast<double>(record.events[static_cast<std::size_t>(e.partner)].time - e.time) : -1.0);
        }
    }
}

void add_tempos(const score::track_record& record, song_arrays& out) {
    for (const score::track_event& e : record.events) {
        if (e.type != score::event_type::meta || e.status != tempo_type || e.length != 3) continue;
        const unsigned char* p = record.payload.data() + e.payload;
        out.tempo_tick.push_back(static_cast<double>(e.time));
        out.tempo_micros.push_back(std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]);
    }
}

// Bars come from the metre map's segments; the map keeps a segment's beat
// length but not the denominator it came from, so the time signatures it
// was built from are read again for that alone.
void add_bars(const score::metre_map& metre, const score::track_record* conductor, std::uint16_t track,
              std::int64_t end, std::size_t limit, song_arrays& out, bool& cut) {
    if (!metre.has_bars()) return;
    std::vector<signature> signatures;
    if (conductor != nullptr) {
        int numerator = 0;
        int exponent = 0;
        for (const score::track_event& e : conductor->events) {
            if (score::is_time_signature(*conductor, e, numerator, exponent)) signatures.push_back({e.time, exponent});
        }
    }
    std::size_t next_signature = 0;
    // Bar 1's segment is the last of those at tick 0: the ones before it
    // hold no bar.
    for (const score::metre_segment* s = metre.segment_of_bar(1); s != nullptr && s->start <= end;) {
        const score::metre_segment* next = metre.next(s);
        if (next != nullptr && next->start == s->start) {
            s = next;
            continue;
        }
        // The 4/4 that holds until a time signature says otherwise.
        int exponent = 2;
        for (; next_signature < signatures.size() && signatures[next_signature].time <= s->start; ++next_signature) {
            if (signatures[next_signature].time == s->start) exponent = signatures[next_signature].exponent;
        }
        for (std::int64_t bar = s->first_bar; next == nullptr || bar < next->first_bar; ++bar) {
            if (bar > s->first_bar && !s->usable()) break;
            const std::int64_t tick = s->start + (bar - s->first_bar) * s->ticks_per_bar();
            if (tick > end) break;
            if (out.bar_number.size() >= limit) {
                cut = true;
                return;
            }
            out.bar_track.push_back(track);
            out.bar_number.push_back(static_cast<std::uint32_t>(bar));
            out.bar_tick.push_back(static_cast<double>(tick));
            out.bar_numerator.push_back(static_cast<std::uint8_t>(s->beats_per_bar));
            out.bar_denominator.push_back(exponent < 16 ? static_cast<std::uint16_t>(1u << exponent) : 0);
            out.bar_ticks_per_beat.push_back(static_cast<std::uint32_t>(s->ticks_per_beat));
        }
        s = next;
    }
}

}  // namespace

std::string arrays_from_song(const score::song& song, song_arrays& out, std::size_t bar_limit) {
    out = song_arrays{};
    out.format = song.format;
    out.division = (song.division & 0x8000) != 0 ? 0 : song.division;
    out.tracks = static_cast<std::int32_t>(song.tracks.size());
    // Track numbers are 16 bits wide in the arrays.
    if (song.tracks.size() > std::numeric_limits<std::uint16_t>::max() + std::size_t{1}) {
        return "more than 65536 tracks";
    }
    std::int64_t end = 0;
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        const score::track_record& record = song.tracks[t].record;
        if (!record.events.empty() && record.events.back().time > end) end = record.events.back().time;
        add_notes(record, static_cast<std::uint16_t>(t), out);
        if (song.format == 2 || t == 0) add_tempos(record, out);
    }
    out.end_tick = static_cast<double>(end);
    bool cut = false;
    if (song.format == 2) {
        for (std::size_t t = 0; t < song.tracks.size() && !cut; ++t) {
            add_bars(song.metre_of(t), &song.tracks[t].record, static_cast<std::uint16_t>(t), end, bar_limit, out, cut);
        }
    } else {
        add_bars(song.metre, song.tracks.empty() ? nullptr : &song.tracks.front().record, 0, end, bar_limit, out, cut);
    }
    if (cut) out.warning = "only the first " + std::to_string(bar_limit) + " bars are given";
    return {};
}

std::string song_arrays_of(const unsigned char* data, std::size_t size, song_arrays& out, std::size_t bar_limit) {
    score::song song;
    const score::song_error error = score::decode_song(data, size, song);
    if (error) {
        out = song_arrays{};
        out.format = song.format;
        out.division = (song.division & 0x8000) != 0 ? 0 : song.division;
        return error.text + " (at byte " + std::to_string(error.offset) + ")";
    }
    return arrays_from_song(song, out, bar_limit);
}

}  // namespace smfasm
