// Constant tables shared by the reader and the writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace midi2mtx {

// A short text padded to a fixed size, so that the writer can copy it with
// one fixed-size store and then advance by its real length.
struct fixed_text {
    static constexpr std::size_t capacity = 16;
    char text[capacity] = {};
    std::uint8_t size = 0;

    template <std::size_t N>
    consteval fixed_text(const char (&literal)[N]) : size(static_cast<std::uint8_t>(N - 1)) {
        static_assert(N <= capacity, "fixed_text too long");
        for (std::size_t i = 0; i + 1 < N; ++i) text[i] = literal[i];
    }
    constexpr std::string_view view() const { return {text, size}; }
};

// Data bytes that follow a status byte, by its high nibble; 0 means the
// status does not start a channel message.
inline constexpr std::array<int, 16> channel_data_lengths = {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 1, 1, 2, 0};

inline constexpr std::array<fixed_text, 12> note_names = {fixed_text{"c"}, {"c#"}, {"d"},  {"d#"}, {"e"},  {"f"},
                                                          {"f#"},          {"g"},  {"g#"}, {"a"},  {"a#"}, {"b"}};

// Indexed by meta type 1 to 8; entry 0 is unused.
inline constexpr std::array<std::string_view, 9> meta_text_names = {
    "", "Text", "Copyright", "TrkName", "InstrName", "Lyric", "Marker", "Cue", "Unrec"};

// One channel line: keyword and channel label, then one or two labelled
// values; `third` is empty for the one-value messages.
struct channel_format {
    fixed_text head;
    fixed_text second;
    fixed_text third;
};

enum channel_slot {
    slot_note_on,
    slot_note_off,
    slot_poly_pressure,
    slot_controller,
    slot_pitch_bend,
    slot_program,
    slot_channel_pressure,
    channel_slot_count
};

struct channel_format_set {
    std::array<channel_format, channel_slot_count> slots;
};

inline constexpr channel_format_set short_channel_formats = {{{
    {"On ch=", " n=", " v="},
    {"Off ch=", " n=", " v="},
    {"PoPr ch=", " n=", " v="},
    {"Par ch=", " c=", " v="},
    {"Pb ch=", " v=", ""},
    {"PrCh ch=", " p=", ""},
    {"ChPr ch=", " v=", ""},
}}};

inline constexpr channel_format_set long_channel_formats = {{{
    {"On ch=", " note=", " vol="},
    {"Off ch=", " note=", " vol="},
    {"PolyPr ch=", " note=", " val="},
    {"Param ch=", " con=", " val="},
    {"Pb ch=", " val=", ""},
    {"ProgCh ch=", " prog=", ""},
    {"ChanPr ch=", " val=", ""},
}}};

}  // namespace midi2mtx
