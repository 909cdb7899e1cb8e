#include "score/metre_map.h"

#include <algorithm>
#include <limits>

namespace smfasm::score {

namespace {

// The beat the lister's measure column uses too: the division scaled by the
// denominator, truncated.
std::int32_t beat_ticks(int division, int exponent) {
    if (division <= 0 || exponent < 0 || exponent > 30) return 0;
    return static_cast<std::int32_t>(std::int64_t{division} * 4 / (std::int64_t{1} << exponent));
}

}  // namespace

void metre_map::reset(int division) {
    division_ = division > 0 && division < 0x8000 ? division : 0;
    segments_.assign(1, metre_segment{0, 1, division_, division_ > 0 ? 4 : 0});
    cursor_ = 0;
    ++version_;
    run_ = bar_run{};
}

void metre_map::add_time_signature(std::int64_t time, int numerator, int exponent) {
    if (!has_bars()) return;
    const metre_segment& last = segments_.back();
    std::int64_t bar = last.first_bar;
    const std::int64_t into = time - last.start;
    if (into > 0) {
        if (last.usable()) {
            const std::int64_t per_bar = last.ticks_per_bar();
            // A bar cut short by the change still counts.
            bar += into / per_bar + (into % per_bar != 0 ? 1 : 0);
        } else {
            bar += 1;
        }
    }
    segments_.push_back(metre_segment{time, bar, beat_ticks(division_, exponent), numerator});
    ++version_;
    run_ = bar_run{};
}

const metre_segment* metre_map::segment_at(std::int64_t time) const {
    if (segments_.empty()) return nullptr;
    std::size_t i = cursor_ < segments_.size() ? cursor_ : 0;
    if (segments_[i].start > time) i = 0;
    while (i + 1 < segments_.size() && segments_[i + 1].start <= time) ++i;
    cursor_ = i;
    return &segments_[i];
}

const metre_segment* metre_map::segment_of_bar(std::int64_t bar) const {
    if (segments_.empty()) return nullptr;
    std::size_t i = 0;
    while (i + 1 < segments_.size() && segments_[i + 1].first_bar <= bar) ++i;
    return &segments_[i];
}

const bar_run& metre_map::find_run(std::int64_t bar) const {
    run_ = bar_run{};
    if (segments_.empty()) return run_;
    const metre_segment* s = segment_of_bar(bar);
    const metre_segment* after = next(s);
    run_.first_bar = s->first_bar;
    run_.end_bar = after != nullptr ? after->first_bar : std::numeric_limits<std::int64_t>::max();
    run_.start = s->start;
    run_.ticks_per_bar = s->ticks_per_bar();
    run_.ticks_per_beat = s->ticks_per_beat;
    run_.beats_per_bar = s->beats_per_bar;
    run_.next_start = after != nullptr ? after->start : std::numeric_limits<std::int64_t>::max();
    return run_;
}

bool metre_map::to_bars(std::int64_t time, bar_time& out) const {
    if (!has_bars()) return false;
    const metre_segment* s = segment_at(time);
    if (s == nullptr || !s->usable() || time < s->start) return false;
    const std::int64_t into = time - s->start;
    const std::int64_t per_bar = s->ticks_per_bar();
    const std::int64_t in_bar = into % per_bar;
    out.bar = s->first_bar + into / per_bar;
    out.beat = in_bar / s->ticks_per_beat + 1;
    out.tick = in_bar % s->ticks_per_beat;
    return true;
}

bool metre_map::find_beat(std::int64_t time, beat_span& kept) const {
    if (kept.count_on(time)) return true;
    bar_time bars;
    if (!to_bars(time, bars)) {
        kept.span = 0;
        return false;
    }
    const metre_segment* segment = segment_at(time);
    const metre_segment* after = next(segment);
    kept.begin = time - bars.tick;
    kept.bar = bars.bar;
    kept.beat = bars.beat;
    kept.ticks_per_beat = segment->ticks_per_beat;
    kept.beats_per_bar = segment->beats_per_bar;
    kept.segment_end = after != nullptr ? after->start : std::numeric_limits<std::int64_t>::max();
    // A signature that cuts the beat short ends it.
    kept.span = static_cast<std::uint64_t>(std::min<std::int64_t>(kept.ticks_per_beat, kept.segment_end - kept.begin));
    return true;
}

}  // namespace smfasm::score
