// Constant tables shared by the reader and the writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace smfasm {

// A short text padded to a fixed size, so that the writer can copy it with
// one fixed-size store and then advance by its real length.
template <std::size_t Capacity>
struct padded_text {
    static constexpr std::size_t capacity = Capacity;
    char text[capacity] = {};
    std::uint8_t size = 0;

    constexpr padded_text() = default;
    template <std::size_t N>
    consteval padded_text(const char (&literal)[N]) : size(static_cast<std::uint8_t>(N - 1)) {
        static_assert(N <= capacity, "text too long for its padding");
        for (std::size_t i = 0; i + 1 < N; ++i) text[i] = literal[i];
    }
    constexpr void append(std::string_view more) {
        for (const char c : more) text[size++] = c;
    }
    constexpr std::string_view view() const { return {text, size}; }
};
using fixed_text = padded_text<16>;

inline constexpr std::array<fixed_text, 12> note_names = {fixed_text{"c"}, {"c#"}, {"d"},  {"d#"}, {"e"},  {"f"},
                                                          {"f#"},          {"g"},  {"g#"}, {"a"},  {"a#"}, {"b"}};

// The name of every note value (a data byte), made once: the commonest line
// of all then copies its note name instead of dividing the note by 12.
using note_name_table = std::array<padded_text<8>, 256>;
constexpr note_name_table make_note_name_table() {
    note_name_table names{};
    for (std::size_t note = 0; note < names.size(); ++note) {
        const std::size_t octave = note / 12;
        const char digits[] = {static_cast<char>('0' + octave / 10), static_cast<char>('0' + octave % 10)};
        names[note].append(note_names[note % 12].view());
        names[note].append(octave < 10 ? std::string_view(digits + 1, 1) : std::string_view(digits, 2));
    }
    return names;
}
inline constexpr note_name_table named_notes = make_note_name_table();

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

// What every channel line starts with after its time column, for each slot
// and channel: "On ch=1 n=", so that a line begins with one copy.
using channel_start_text = padded_text<32>;

struct channel_format_set {
    std::array<channel_format, channel_slot_count> slots;
    std::array<std::array<channel_start_text, 16>, channel_slot_count> starts{};

    constexpr explicit channel_format_set(const std::array<channel_format, channel_slot_count>& formats)
        : slots(formats) {
        for (std::size_t s = 0; s < channel_slot_count; ++s) {
            for (std::size_t channel = 0; channel < 16; ++channel) {
                channel_start_text& start = starts[s][channel];
                start.append(slots[s].head.view());
                const char number[] = {static_cast<char>('0' + (channel + 1) / 10),
                                       static_cast<char>('0' + (channel + 1) % 10)};
                start.append(channel + 1 < 10 ? std::string_view(number + 1, 1) : std::string_view(number, 2));
                start.append(slots[s].second.view());
            }
        }
    }
};

inline constexpr channel_format_set short_channel_formats{{{
    {"On ch=", " n=", " v="},
    {"Off ch=", " n=", " v="},
    {"PoPr ch=", " n=", " v="},
    {"Par ch=", " c=", " v="},
    {"Pb ch=", " v=", ""},
    {"PrCh ch=", " p=", ""},
    {"ChPr ch=", " v=", ""},
}}};

inline constexpr channel_format_set long_channel_formats{{{
    {"On ch=", " note=", " vol="},
    {"Off ch=", " note=", " vol="},
    {"PolyPr ch=", " note=", " val="},
    {"Param ch=", " con=", " val="},
    {"Pb ch=", " val=", ""},
    {"ProgCh ch=", " prog=", ""},
    {"ChanPr ch=", " val=", ""},
}}};

}  // namespace smfasm
