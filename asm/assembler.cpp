// The assembler's framing: the listing's lines sorted out (comments, folds,
// frame and event lines), the MFile header, MTrk ... TrkEnd, each event's
// time, and the header's track count set right once the tracks are counted.
#include "asm/assembler.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "asm/assembly.h"
#include "state/keywords.h"

namespace smfasm {

namespace assembly {

namespace {

constexpr std::uint32_t largest_delta = (std::uint32_t{1} << 28) - 1;

void put_u16(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

void put_u32(unsigned char* at, std::uint32_t value) {
    put_u16(at, value >> 16);
    put_u16(at + 2, value);
}

}  // namespace

bool assembler::general_line(const listing_line& line) {
    line_ = &line;
    // A MIDI file given for its listing: said once, without its bytes.
    if (line.number == 1 && line.end - line.begin >= 4 && std::string_view(line.begin, 4) == "MThd") {
        log_.error(0, 0, "a MIDI file, not a listing (smfdis lists it)");
        return false;
    }
    try {
        if (line.fold == broken_fold::at_end) {
            log_.error(line, line.end - 1, "the listing ends inside a folded line");
        } else if (line.fold == broken_fold::no_tab) {
            // The next line is read as a line of its own, so that a stray
            // backslash never swallows it.
            const char* backslash = line.end - 1;
            log_.error(line, backslash,
                       "this backslash folds the line, but the next line does not start with a tab: remove the "
                       "backslash, or start the continuation with a tab");
        } else if (!is_comment_or_blank(line.begin, line.end)) {
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
        header_line(c, start);
        return;
    }
    if (word == keyword::track_start) {
        if (header_line_ == 0) field_cursor::fail(start, "MTrk before the MFile line");
        if (track_line_ != 0) {
            field_cursor::fail(start, "MTrk inside the track begun on line " + std::to_string(track_line_) +
                                          " (its TrkEnd is missing)");
        }
        if (score_) {
            score_track_start(c);
        } else {
            c.expect_end();
        }
        track_line_ = line_->number;
        track_.clear();
        quick_ = !score_;
        quick_score_ = score_;
        end_of_track_line_ = 0;
        after_end_warned_ = false;
        previous_time_ = 0;
        running_status_ = 0;
        return;
    }
    if (word == keyword::track_end) {
        c.expect_end();
        track_end(start);
        return;
    }
    if (word.empty()) field_cursor::fail(start, "expected a time, MFile, MTrk or TrkEnd");
    if (keywords().find(word) != nullptr) {
        field_cursor::fail(start, "every event line starts with its time, in ticks or as measure:beat:tick (\"0 " +
                                      std::string(word) + " ...\")");
    }
    field_cursor::fail(start, "unknown keyword \"" + std::string(word) + "\"");
}

void assembler::header_line(field_cursor& c, const char* start) {
    if (header_line_ != 0)
        field_cursor::fail(start, "a second MFile (the first is on line " + std::to_string(header_line_) + ")");
    c.expect_blank("the format");
    const char* format_at = c.position();
    const auto format = static_cast<int>(c.number(0, 65535, "the format"));
    c.expect_blank("the track count");
    const char* count_at = c.position();
    const auto tracks = static_cast<int>(c.number(0, 65535, "the track count"));
    c.expect_blank("the division");
    const auto division = static_cast<int>(c.number(-128, 32767, "the division"));
    int word16 = division;
    if (division < 0) {
        c.expect_blank("the ticks per frame");
        word16 = (division & 0xFF) << 8 | static_cast<int>(c.number(0, 255, "the ticks per frame"));
    }
    format_ = format;
    score_metre_.reset(division < 0 ? 0 : division);
    score_header(c);
    c.expect_end();
    if (format > 2) {
        log_.warning(*line_, format_at,
                     "format " + std::to_string(format) + " is none of the MIDI file formats 0, 1 and 2");
    }
    header_line_ = line_->number;
    header_text_.assign(line_->begin, line_->end + 1);
    count_offset_ = static_cast<std::size_t>(count_at - line_->begin);
    announced_tracks_ = tracks;
    metre_ = {division < 0, word16, word16, 4, 0, 0};
    if (score_) score_note_values();
    unsigned char bytes[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    put_u16(bytes + 8, static_cast<std::uint32_t>(format));
    put_u16(bytes + 10, static_cast<std::uint32_t>(tracks));  // counted again at the end
    put_u16(bytes + 12, static_cast<std::uint32_t>(word16));
    out_.write(bytes, sizeof bytes);
}

void assembler::track_end(const char* start) {
    if (track_line_ == 0) field_cursor::fail(start, "TrkEnd without its MTrk");
    if (score_) score_track_end();
    const std::size_t size = track_.size();
    if (size > UINT32_MAX) field_cursor::fail(start, "the track is too long for a track chunk");
    if (tracks_ == 65535) field_cursor::fail(start, "more tracks than a MIDI file can hold (65535)");
    if (end_of_track_line_ == 0) {
        log_.warning(*line_, start,
                     "the track begun on line " + std::to_string(track_line_) +
                         " has no Meta TrkEnd event, which a MIDI file's track ends with");
    }
    check_sounding_notes(start);
    unsigned char head[8] = {'M', 'T', 'r', 'k'};
    put_u32(head + 4, static_cast<std::uint32_t>(size));
    out_.write(head, sizeof head);
    out_.write(track_.data(), size);
    track_line_ = 0;
    quick_ = false;
    quick_score_ = false;
    ++tracks_;
}

void assembler::check_sounding_notes(const char* start) {
    std::uint64_t count = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < sounding_.size(); ++i) {
        if (sounding_[i] == 0) continue;
        if (count == 0 || struck_on_[i] < struck_on_[first]) first = i;
        count += sounding_[i];
    }
    if (count == 0) return;
    std::string text = "note " + std::to_string(first % 128) + " on channel " + std::to_string(first / 128 + 1) +
                       ", struck on line " + std::to_string(struck_on_[first]) +
                       ", still sounds at the end of the track begun on line " + std::to_string(track_line_);
    if (count > 1) text += ", and " + std::to_string(count - 1) + " more note" + (count == 2 ? "" : "s");
    text += ": no note-off (or note-on with velocity 0) ends " + std::string(count == 1 ? "it" : "them");
    log_.warning(*line_, start, text);
    sounding_.fill(0);
}

void assembler::no_metre(const time_field& t) const {
    field_cursor::fail(t.at, "a measure time needs a metre, and " +
                                 std::string(metre_.smpte ? "SMPTE time has none" : "the metre here is unusable") +
                                 ": write the time in ticks");
}

time_field assembler::listed_time(std::int32_t time) const {
    const metre& m = metre_;
    const auto since = static_cast<std::int32_t>(wrap(time) - wrap(m.last_time_sig_time));
    const std::int32_t beats = since / m.ticks_per_beat;
    time_field t;
    t.measure = true;
    t.ticks = static_cast<std::int32_t>(wrap(beats / m.beats_per_measure) + wrap(m.measure_offset));
    t.beat = beats % m.beats_per_measure;
    t.tick = since % m.ticks_per_beat;
    return t;
}

namespace {

std::string measure_text(const time_field& t) {
    return std::to_string(t.ticks) + ":" + std::to_string(t.beat) + ":" + std::to_string(t.tick);
}

}  // namespace

// The lister's own measure column wraps in 32 bits in odd files: a time is
// refused only when it wraps and the lister could not have written it.
void assembler::check_measure_time(const time_field& t, std::int32_t time) {
    const time_field listed = listed_time(time);
    const bool as_listed = listed.ticks == t.ticks && listed.beat == t.beat && listed.tick == t.tick;
    const std::int64_t ticks = measure_ticks(t);
    if (ticks != time && !as_listed) {
        field_cursor::fail(t.at, "the time " + measure_text(t) + " is tick " + std::to_string(ticks) +
                                     ", out of range (" + std::to_string(INT32_MIN) + " to " +
                                     std::to_string(INT32_MAX) + ")");
    }
    if (within_bar(t)) return;
    const metre& m = metre_;
    const std::string same =
        "; " + measure_text(t) + " is tick " + std::to_string(time) + ", the same as " + measure_text(listed);
    if (t.beat >= m.beats_per_measure) {
        log_.warning(*line_, t.at,
                     "beat " + std::to_string(t.beat) + " is past the end of its bar: a bar has " +
                         std::to_string(m.beats_per_measure) + " beats, counted from 0" + metre_origin() + same);
    } else {
        log_.warning(*line_, t.at,
                     "tick " + std::to_string(t.tick) + " is past the end of its beat: a beat has " +
                         std::to_string(m.ticks_per_beat) + " ticks, counted from 0" + metre_origin() + same);
    }
}

std::string assembler::metre_origin() const {
    if (time_signature_line_ == 0) return "";
    return " (" + time_signature_text_ + " on line " + std::to_string(time_signature_line_) + ")";
}

void assembler::event_line(field_cursor& c) {
    time_field t;
    if (score_) {
        line_time_ = score_time(c, t.at);
        t.ticks = static_cast<std::int32_t>(wrap(line_time_));
    } else {
        t = c.time();
    }
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
    if (t.measure) check_measure_time(t, time);
    check_event(t, entry->kind, time);
    if (entry->kind == event_kind::note && !score_) {
        field_cursor::fail(start, "Note lines belong to the score form: its MFile line ends in \"score\"");
    }
    switch (entry->kind) {
        case event_kind::channel:
            if (score_) {
                score_channel_event(c, entry->slot, false);
            } else {
                channel_event(c, entry->slot, time);
            }
            break;
        case event_kind::note: score_channel_event(c, entry->slot, true); break;
        case event_kind::meta: meta_event(c, time); break;
        case event_kind::time_signature: time_signature(c, time); break;
        default: payload_event(c, entry->kind, time); break;
    }
    if (score_) {
        // Running status goes on across meta events and SysEx where the
        // track's habit carries it.
        if (entry->kind != event_kind::channel && entry->kind != event_kind::note) {
            running_status_ = habits_.carry ? channel_status_ : 0;
        }
    }
}

void assembler::check_event(const time_field& t, event_kind kind, std::int32_t time) {
    // The score form's times run past 32 bits: its steps are measured in
    // full, or a step of 2^32 ticks and more would pass for a short one.
    const std::int64_t now = score_ ? line_time_ : time;
    const std::int64_t before = score_ ? written_time_ : previous_time_;
    const bool fits = score_ ? now >= before && now - before <= largest_step : delta_fits(time, previous_time_);
    if (!fits) {
        // Reported, but the line is still read and its time taken: later
        // lines are then judged against it, and a time signature still
        // moves the metre, so one slip gives one message.
        const std::int64_t gap = score_ ? now - before : static_cast<std::int32_t>(wrap(time) - wrap(previous_time_));
        if (gap < 0) {
            log_.error(*line_, t.at,
                       "time goes backwards: tick " + std::to_string(now) + " after tick " + std::to_string(before));
        } else {
            std::string text = "tick " + std::to_string(now) + " is " + std::to_string(gap) + " ticks after tick " +
                               std::to_string(before) + ", more than a MIDI file can hold in one step (" +
                               std::to_string(largest_delta) + ")";
            if (kind == event_kind::sysex && !options_.packets) {
                text +=
                    "; a SysEx message joined from packets takes the time of its last packet: list the file "
                    "with -m, which keeps such files exact";
            }
            log_.error(*line_, t.at, text);
        }
    }
    if (end_of_track_line_ != 0 && !after_end_warned_) {
        after_end_warned_ = true;
        log_.warning(*line_, t.at,
                     "an event after the track's Meta TrkEnd on line " + std::to_string(end_of_track_line_));
    }
    // Measure times go on from where the track before left the metre, as
    // the lister counts them: a hand-written later track that starts at
    // 0:0:0 meant its start, which is tick 0 only when no metre change came
    // before it.
    if (t.measure && t.ticks == 0 && t.beat == 0 && t.tick == 0 && time != 0 && tracks_ > 0 && track_.size() == 0) {
        log_.warning(*line_, t.at,
                     "0:0:0 is tick " + std::to_string(time) +
                         ", not the track's start: measure times carry on the metre where the track before left "
                         "it" +
                         metre_origin() + "; write 0 for the start");
    }
}

void assembler::begin_event(std::int32_t time) {
    if (score_) {
        place_ends(line_time_);
        put_delta_to(line_time_);
        return;
    }
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

int assembler::finish(std::int64_t lines_read, bool whole) {
    if (!whole) {
        log_.finish();
        return log_.errors();
    }
    if (track_line_ != 0 && !log_.full()) {
        log_.error(
            lines_read + 1, 1,
            "the listing ends inside the track begun on line " + std::to_string(track_line_) + " (TrkEnd missing)");
    }
    if (log_.errors() == 0 && header_line_ == 0) log_.error(0, 0, "no MFile line: nothing to assemble");
    if (log_.errors() == 0 && tracks_ != announced_tracks_) {
        // The header counts the tracks there are, so that other programs
        // read the file whole.
        const listing_line header{header_text_.data(), header_text_.data() + header_text_.size() - 1, header_line_,
                                  broken_fold::none};
        log_.warning(header, header.begin + count_offset_,
                     "MFile announces " + std::to_string(announced_tracks_) + " track" +
                         (announced_tracks_ == 1 ? "" : "s") + ", the listing holds " + std::to_string(tracks_) +
                         ": the file's header says " + std::to_string(tracks_));
        unsigned char count[2];
        put_u16(count, static_cast<std::uint32_t>(tracks_));
        out_.rewrite(10, count, sizeof count);
    }
    log_.finish();
    return log_.errors();
}

}  // namespace assembly

}  // namespace smfasm
