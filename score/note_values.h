// Lengths as note values and tempos in beats per minute: the spellings the
// score form writes where they give the file's numbers back exactly, and
// their reading.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace smfasm::score {

// "1/8", "1/4." (dotted) or "1/8t" (triplet) for a length of `ticks` at
// `division` ticks per quarter note, from a whole note to 1/64; empty when
// no such value is exactly that many ticks.
std::string note_value_text(std::int64_t ticks, int division);

// Reads "M/N", "M/N." or "M/Nt" (N a power of two up to 64) at `text`:
// sets `ticks` and returns the characters read, or 0 when it is no note
// value; -1 when it is one but not a whole number of ticks at `division`.
int read_note_value(std::string_view text, int division, std::int64_t& ticks);

// The shortest beats-per-minute text, with at most two decimals, that the
// assembler reads as `per_quarter` microseconds ("130" for 461538), or
// empty when there is none.
std::string bpm_text(std::int64_t per_quarter);

// Beats per minute with four decimals, for a comment ("129.9997").
std::string bpm_comment(std::int64_t per_quarter);

// The assembler's reading of `scaled` / 10^`decimals` beats per minute:
// microseconds per quarter note, rounded to the nearest.
std::int64_t per_quarter_of_bpm(std::int64_t scaled, std::int64_t scale);

}  // namespace smfasm::score
