// The listing's vocabulary: what the writer prints and the assembler reads,
// kept once so that the two directions cannot drift apart.
#pragma once

#include <array>
#include <string_view>

#include "state/tables.h"

namespace smfasm {

namespace keyword {
inline constexpr std::string_view header = "MFile";
inline constexpr std::string_view track_start = "MTrk";
inline constexpr std::string_view track_end = "TrkEnd";
inline constexpr std::string_view sysex = "SysEx";
inline constexpr std::string_view arbitrary = "Arb";
inline constexpr std::string_view sequencer_specific = "SeqSpec";
inline constexpr std::string_view meta = "Meta";
// Type 3 in the first track; "TrkName" from meta_text_names elsewhere.
inline constexpr std::string_view sequence_name = "SeqName";
// After "Meta ": the end-of-track event inside a track.
inline constexpr std::string_view end_of_track = "TrkEnd";
inline constexpr std::string_view sequence_number = "SeqNr";
inline constexpr std::string_view tempo = "Tempo";
inline constexpr std::string_view smpte = "SMPTE";
inline constexpr std::string_view time_signature = "TimeSig";
inline constexpr std::string_view key_signature = "KeySig";
inline constexpr std::string_view major = "major";
inline constexpr std::string_view minor = "minor";
// The score form's note: its start and its length on one line.
inline constexpr std::string_view note = "Note";
// After the MFile line's numbers: the listing is in the score form.
inline constexpr std::string_view score = "score";
// Each channel slot by the short keyword of its line, where a habit names it.
inline constexpr std::array<std::string_view, channel_slot_count> channel_slot_names = {"On", "Off",  "PoPr", "Par",
                                                                                        "Pb", "PrCh", "ChPr"};
}  // namespace keyword

// The status byte's high nibble of each channel slot.
inline constexpr std::array<int, channel_slot_count> channel_slot_status = {0x90, 0x80, 0xA0, 0xB0, 0xE0, 0xC0, 0xD0};

// Meta types with lines of their own.
namespace meta_type {
inline constexpr int sequence_number = 0x00;
inline constexpr int sequence_name = 0x03;
inline constexpr int end_of_track = 0x2F;
inline constexpr int tempo = 0x51;
inline constexpr int smpte = 0x54;
inline constexpr int time_signature = 0x58;
inline constexpr int key_signature = 0x59;
inline constexpr int sequencer_specific = 0x7F;
}  // namespace meta_type

}  // namespace smfasm
