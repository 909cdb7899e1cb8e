// The quick reader: channel lines (and the score form's Note lines) exactly
// as the lister writes them, taken straight from the reader's buffer in one
// pass each; and the loop over the listing, which gives it every run of
// such lines and the general reader the rest. Any other shape, anything
// that would warn, and every error is left to the general reader, which
// reads the line again and words the message: the quick reader only ever
// makes the bytes the general reader would make, silently.
#include <cstdint>

#include "asm/assembly.h"
#include "asm/quick_fields.h"
#include "score/habits.h"
#include "state/tables.h"

namespace smfasm::assembly {

assembler::measure_read assembler::quick_measure_time(const char* p, std::int32_t measure, bool track_empty) const {
    time_field t;
    t.measure = true;
    t.ticks = measure;
    ++p;
    if (!quick::time_part(p, t.beat) || *p != ':') return {};
    ++p;
    if (!quick::time_part(p, t.tick)) return {};
    // Measure times that need a look at the metre (or that wrap, or run
    // past their bar or beat) and the first event of a track in measure
    // time are left to the general reader, which warns where a listing is
    // probably wrong.
    if (!metre_.usable() || track_empty || !within_bar(t)) return {};
    const std::int32_t time = event_time(t);
    if (measure_ticks(t) != time) return {};
    return {p, time};
}

// The commonest line by far: "1662 On ch=1 n=42 v=15". What the loop
// changes is kept in locals and stored when it stops.
template <bool Running>
const char* assembler::quick_tick_lines(const char* p, const char* const end, std::int64_t& lines) {
    std::int64_t number = lines;
    std::int32_t previous = previous_time_;
    std::size_t set = label_set_;
    int running = running_status_;
    // A line the quick reader takes is at least twice as long as its bytes
    // in the file (fourteen bytes, "0 Pb ch=1 v=0" and its line end, make
    // at most a delta time of four bytes, the status and two data bytes):
    // room for the run is made once.
    unsigned char* out = track_.room(static_cast<std::size_t>(end - p) / 2 + 8);
    while (p < end) {
        const char* q = p;
        std::int32_t time = 0;
        if (!quick::tick_time(q, time)) break;
        if (*q == ':') {
            const measure_read measure = quick_measure_time(q, time, out == track_.data());
            if (measure.end == nullptr) break;
            q = measure.end;
            time = measure.time;
        }
        if (*q != ' ') break;
        quick::channel_values v;
        q = quick::channel_fields<false>(q + 1, set, v);
        if (q == nullptr) break;
        const char* const next = quick::line_end(q);
        if (next == nullptr || !delta_fits(time, previous)) break;
        if (v.slot <= slot_note_off) {
            if (!count_note(v.slot == slot_note_on && v.second != 0, v.channel, v.first, number + 1)) break;
        }
        // Without branches that the mix of events would make hard to
        // foresee: bytes not wanted are written over by the next.
        out = quick::put_delta(out, wrap(time) - wrap(previous));
        previous = time;
        const int status = v.status;
        out[0] = static_cast<unsigned char>(status);
        out += !Running || status != running ? 1 : 0;
        out[0] = static_cast<unsigned char>(v.first);
        out[1] = static_cast<unsigned char>(v.second);
        out += v.second >= 0 ? 2 : 1;
        running = status;
        p = next;
        ++number;
    }
    track_.commit(out);
    lines = number;
    previous_time_ = previous;
    running_status_ = running;
    label_set_ = set;
    return p;
}

namespace {

// " key=" of a mark on a score line, packed as a label.
constexpr packed_label mark_label(std::string_view key) {
    packed_label label;
    label.size = key.size() + 2;
    label.key = ' ' | pack(key) << 8 | std::uint64_t{'='} << (8 * (key.size() + 1));
    label.mask = low_bytes_mask(label.size);
    return label;
}
constexpr packed_label length_mark = mark_label(score::habit_word::length);
constexpr packed_label end_mark = mark_label(score::habit_word::end);
constexpr packed_label end_position_mark = mark_label(score::habit_word::end_position);

}  // namespace

// The quick reader asks the running habit by slot, the rule by the status's
// nibble: both must name the same slot.
static_assert([] {
    for (std::size_t slot = 0; slot < channel_slot_count; ++slot) {
        if (score::slot_of_nibble[(channel_slot_status[slot] >> 4) & 7] != slot) return false;
    }
    return true;
}());

// The score form's channel and Note lines ("3:2:117 Note ch=1 n=c#4 v=90
// len=1/8 end=0"). A bar:beat:tick time is placed in the metre map's run of
// bars kept from the line before. Whatever would warn (a beat or tick
// beyond its bar or beat, a bar cut short, an off that ends no note, a
// value above 127) and the status marks are left to the general reader.
const char* assembler::quick_score_lines(const char* p, const char* const end, std::int64_t& lines) {
    std::int64_t number = lines;
    std::size_t set = label_set_;
    // Kept in locals, and stored for the ends placed between lines.
    // The score form's previous_time_ is always the last time written,
    // wrapped: set where the run stops. Events written at the last time
    // are counted here for the marks of ends, and given to ends_ where it
    // is asked.
    std::int64_t written = written_time_;
    std::int32_t at_written = ends_.count_at(written);
    int running = running_status_;
    const unsigned running_slots = habits_.running;
    // The status the next channel event may leave out: the last one, where
    // the track's habit repeats its kind; else none. One compare then
    // tells whether a status byte is written.
    const auto repeatable = [running_slots](int status) {
        return status != 0 && ((running_slots >> score::slot_of_status(status)) & 1u) != 0 ? status : -1;
    };
    int repeats = repeatable(running);
    // Once the run writes anything, the last status written is both the
    // running status and the channel status; before, each keeps its own.
    const std::size_t size_before = track_.size();
    // As in the tick form, with room made again after ends are placed.
    unsigned char* out = track_.room(static_cast<std::size_t>(end - p) / 2 + 8);
    // Where the run stops: moved to the line being read once the log is
    // full, so that the line is still written but no other.
    const char* limit = end;
    // The locals handed to the members, for the general writer's ends and
    // where the run stops.
    const auto store = [&] {
        ends_.set_count(written, at_written);
        written_time_ = written;
        previous_time_ = static_cast<std::int32_t>(wrap(written));
        running_status_ = running;
        if (track_.size() != size_before) channel_status_ = running;
    };
    // The bar and beat of a line before ("4:1:") as text, and the tick
    // where that beat starts: a line in the same beat reads only its tick.
    // The metre map changes only on lines the general reader reads, which
    // end the run.
    std::uint64_t beat_text = 1;  // matches nothing
    std::uint64_t beat_mask = 0;
    std::size_t beat_size = 0;
    std::int64_t beat_start = 0;
    std::int64_t beat_ticks = 0;
    std::int64_t run_end = 0;
    while (p < limit) {
        const char* q = p;
        std::int64_t time = 0;
        if ((load8(q) & beat_mask) == beat_text) {
            q += beat_size;
            const std::int64_t tick = quick::number(q, 6);
            if (tick < 0 || tick >= beat_ticks) break;
            time = beat_start + tick;
            if (time >= run_end) break;
        } else {
            time = quick::long_number(q, 10);
            if (time < 0) break;
            if (*q == ':') {
                const std::int64_t bar = time;
                ++q;
                const std::int64_t beat = quick::number(q, 3);
                if (beat < 1 || *q++ != ':') break;
                const char* const tick_at = q;
                const std::int64_t tick = quick::number(q, 6);
                if (tick < 0 || bar < 1 || bar > INT32_MAX) break;
                const score::bar_run& run = score_metre_.run_of_bar(bar);
                // Bars with no beats fail these too.
                if (beat > run.beats_per_bar || tick >= run.ticks_per_beat) break;
                const std::int64_t start = run.beat_start(bar, beat);
                time = start + tick;
                if (time >= run.next_start) break;
                const auto size = static_cast<std::size_t>(tick_at - p);
                if (size <= 8) {
                    beat_size = size;
                    beat_mask = low_bytes_mask(size);
                    beat_text = load8(p) & beat_mask;
                    beat_start = start;
                    beat_ticks = run.ticks_per_beat;
                    run_end = run.next_start;
                }
            }
        }
        if (*q != ' ') break;
        quick::channel_values v;
        q = quick::channel_fields<true>(q + 1, set, v);
        if (q == nullptr) break;
        // A Note's end, each field set below, put in the queue with its
        // order once the line is known good.
        score::note_ends::entry ending;
        std::int32_t end_position = score::pending_end{}.position;
        if (v.note) {
            // A velocity of 0 is an error: said by the general reader.
            if (v.second == 0 || !quick::label(q, length_mark)) break;
            ending.column = q - p + 1;
            std::int64_t length = 0;
            if (q[0] == '1' && q[1] == '/') {
                q += 2;
                const std::int64_t over = quick::number(q, 2);
                if (over < 0 || over >= static_cast<std::int64_t>(note_value_ticks_.size())) break;
                const std::size_t form = *q == '.' ? 1 : *q == 't' ? 2 : 0;
                q += form != 0 ? 1 : 0;
                length = note_value_ticks_[static_cast<std::size_t>(over)][form];
            } else {
                length = quick::long_number(q, 9);
            }
            if (length < 0 || length > largest_step) break;
            ending.time = time + length;
            int end_kind = habits_.end_velocity;
            if (quick::label(q, end_mark)) {
                if (q[0] == 'o' && q[1] == 'n' && (q[2] == ' ' || q[2] == '\n' || q[2] == '\r')) {
                    q += 2;
                    end_kind = score::end_by_note_on;
                } else {
                    end_kind = quick::data_byte(q);  // above 127: raw=1, or an error
                    if (end_kind < 0) break;
                }
            }
            if (quick::label(q, end_position_mark)) {
                const std::int64_t position = quick::long_number(q, 10);
                if (position < 0 || position > INT32_MAX - 1) break;
                end_position = static_cast<std::int32_t>(position);
            }
            const bool by_note_on = end_kind == score::end_by_note_on;
            ending.line = number + 1;
            ending.key = v.first;
            ending.status = static_cast<std::uint8_t>((by_note_on ? 0x90 : 0x80) | (v.channel - 1));
            ending.velocity = static_cast<std::uint8_t>(by_note_on ? 0 : end_kind);
            ending.status_mark = 0;
        }
        const char* const next = quick::line_end(q);
        // Measured in full: the score form's times run past 32 bits.
        if (next == nullptr || static_cast<std::uint64_t>(time - written) > largest_step) break;
        const bool struck = v.slot == slot_note_on && v.second != 0;
        if (!v.note && v.slot <= slot_note_off && !count_note(struck, v.channel, v.first, number + 1)) break;
        if (ends_.due() <= time) {
            track_.commit(out);
            if (ends_.unmarked_only_by(time)) {
                // At most eight bytes an end.
                out = track_.room(static_cast<std::size_t>(end - p) / 2 + 8 + 8 * ends_.unmarked_size());
                // Only time and order place them: written here, but for
                // an end that needs a message or a mark.
                while (const score::note_ends::entry* e = ends_.next_unmarked_before(time)) {
                    if (!e->plain() || e->time - written > largest_step) [[unlikely]] {
                        track_.commit(out);
                        ends_.set_count(written, at_written);
                        written_time_ = written;
                        running_status_ = running;
                        if (track_.size() != size_before) channel_status_ = running;
                        put_end(score::note_ends::record(*e));
                        if (log_.full()) limit = p;
                        out = track_.room(static_cast<std::size_t>(end - p) / 2 + 8 + 8 * ends_.unmarked_size());
                        running = running_status_;
                        repeats = repeatable(running);
                        written = written_time_;
                        at_written = ends_.count_at(written);
                        continue;
                    }
                    out = quick::put_delta(out, static_cast<std::uint32_t>(e->time - written));
                    at_written = (e->time == written ? at_written : 0) + 1;
                    written = e->time;
                    const int status = e->status;
                    out[0] = static_cast<unsigned char>(status);
                    out += status != repeats ? 1 : 0;
                    out[0] = static_cast<unsigned char>(e->key);
                    out[1] = e->velocity;
                    out += 2;
                    running = status;
                    repeats = repeatable(status);
                }
            } else {
                store();
                place_ends_slowly(time);
                // The ends may say a note runs too long.
                if (log_.full()) limit = p;
                out = track_.room(static_cast<std::size_t>(end - p) / 2 + 8);
                written = written_time_;
                at_written = ends_.count_at(written);
                running = running_status_;
                repeats = repeatable(running);
            }
        }
        // Checked above to fit: a step of 0 stays at the tick.
        const auto step = static_cast<std::uint32_t>(time - written);
        out = quick::put_delta(out, step);
        at_written = (step == 0 ? at_written : 0) + 1;
        written = time;
        const int status = v.status;
        // The running rule's test, for a first data byte below 128 and the
        // status of the slot; then the bytes as in the tick form.
        out[0] = static_cast<unsigned char>(status);
        out += status != repeats ? 1 : 0;
        out[0] = static_cast<unsigned char>(v.first);
        out[1] = static_cast<unsigned char>(v.second);
        out += v.second >= 0 ? 2 : 1;
        running = status;
        repeats = ((running_slots >> v.slot) & 1u) != 0 ? status : -1;
        ++number;
        p = next;
        if (v.note) {
            ending.order = habits_.reverse ? -notes_begun_ : notes_begun_;
            ++notes_begun_;
            if (end_position == score::pending_end{}.position) [[likely]] {
                ends_.add_unmarked(ending);
            } else {
                score::pending_end marked = score::note_ends::record(ending);
                marked.position = end_position;
                ends_.add(marked);
            }
        }
    }
    track_.commit(out);
    lines = number;
    store();
    label_set_ = set;
    return p;
}

bool assembler::quick_lines(listing_reader& in) {
    if (!quick_ && !quick_score_) return true;
    std::int64_t number = in.lines_read();
    const std::int64_t before = number;
    const char* const stop = !quick_                   ? quick_score_lines(in.unread(), in.whole_end(), number)
                             : options_.running_status ? quick_tick_lines<true>(in.unread(), in.whole_end(), number)
                                                       : quick_tick_lines<false>(in.unread(), in.whole_end(), number);
    in.taken(stop, number - before);
    return !log_.full();
}

}  // namespace smfasm::assembly

namespace smfasm {

int assemble(listing_reader& in, const char* name, const assembly_options& options, byte_sink& out, std::FILE* messages,
             std::vector<assembly_message>* collected) {
    assembly::assembler a(name, options, out, messages, collected);
    listing_line line;
    while (a.quick_lines(in) && in.next(line)) {
        if (!a.line(line)) break;
    }
    return a.finish(in.lines_read(), in.read_error() == 0);
}

}  // namespace smfasm
