// Data and meta lines: SysEx and Arb packets, meta events by name or type,
// meta values and the time signature, which moves the metre.
#include <cstdint>
#include <string>
#include <string_view>

#include "asm/assembly.h"
#include "state/keywords.h"
#include "state/tables.h"

namespace smfasm::assembly {

std::int64_t assembler::tempo(field_cursor& c) {
    c.expect_blank("the tempo");
    const char* at = c.position();
    bool per_minute = false;
    const std::int64_t value = c.tempo(per_minute);
    if (!per_minute && value < 1000) {
        // People type beats per minute.
        std::string text = "the tempo " + std::to_string(value) + " is in microseconds per quarter note";
        if (value > 0) {
            text += ", " + std::to_string((60000000 + value / 2) / value) + " beats per minute";
            // Below 4 beats per minute a quarter note outlasts the longest tempo: no such line to suggest.
            if ((120000000 + value) / (2 * value) <= 0xFFFFFF) {
                text +=
                    "; for " + std::to_string(value) + " beats per minute write Tempo " + std::to_string(value) + "bpm";
            }
        }
        log_.warning(*line_, at, text);
    }
    return value;
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
        case event_kind::tempo: values[0] = tempo(c); break;
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
            ends_track();
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
    // Written by type, with a payload or not, it still ends the track.
    if (type == meta_type::end_of_track) ends_track();
}

void assembler::ends_track() {
    if (end_of_track_line_ == 0) end_of_track_line_ = line_->number;
    quick_ = false;
    quick_score_ = false;
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
    time_signature_line_ = line_->number;
    time_signature_text_ = "TimeSig " + std::to_string(numerator) + "/" + std::to_string(denominator);
    metre& m = metre_;
    const std::int32_t ticks_per_measure = m.ticks_per_beat * m.beats_per_measure;
    if (ticks_per_measure != 0) {
        const auto elapsed = static_cast<std::int32_t>(wrap(time) - wrap(m.last_time_sig_time));
        m.measure_offset = static_cast<std::int32_t>(wrap(m.measure_offset) + wrap(elapsed / ticks_per_measure));
    }
    m.last_time_sig_time = time;
    // The conductor track's signatures place the bars of the whole song
    // (each track its own in format 2).
    if (score_ && (format_ == 2 || tracks_ == 0)) score_metre_.add_time_signature(line_time_, numerator, exponent);
    m.beats_per_measure = numerator;
    const std::int32_t denominator_value = exponent < 31 ? std::int32_t{1} << exponent : 0;
    m.ticks_per_beat = denominator_value > 0 ? m.division * 4 / denominator_value : 0;
}

}  // namespace smfasm::assembly
