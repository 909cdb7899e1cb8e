#include "asm/assembler.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "asm/assembly.h"
#include "state/keywords.h"

namespace smfasm {

namespace assembly {

bool assembler::general_line(const listing_line& line) {
    line_ = &line;
    try {
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

void assembler::no_metre(const time_field& t) const {
    field_cursor::fail(t.at, "a measure time needs a metre, and " +
                                 std::string(metre_.smpte ? "SMPTE time has none" : "the metre here is unusable") +
                                 ": write the time in ticks");
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

}  // namespace assembly

}  // namespace smfasm
