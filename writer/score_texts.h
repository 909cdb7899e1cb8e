// The fixed texts of the score form's channel and note lines, by format
// set: what writer/score_lines.cpp copies to write the commonest lines.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "score/habits.h"
#include "state/keywords.h"
#include "state/tables.h"

namespace smfasm::score_texts {

// The fixed texts of the channel lines, made once for each format set, so
// that a line is a few copies: its start by status byte ("On ch=1 n=", and
// "Note ch=1 n=" by channel), and a note's name with the label after it
// ("c#4 v=") by slot and note.
struct line_texts {
    // One byte short of a power of two, with the length byte: an entry is
    // found with a shift.
    using start_text = padded_text<31>;
    using note_text = padded_text<15>;
    std::array<start_text, 0x70> starts{};
    std::array<start_text, 16> note_starts{};
    std::array<std::array<note_text, 256>, 3> notes{};  // slot_note_on, slot_note_off, slot_poly_pressure
};
constexpr line_texts make_line_texts(const channel_format_set& formats) {
    line_texts texts{};
    for (std::size_t status = 0x80; status < 0xF0; ++status) {
        texts.starts[status - 0x80].append(
            formats.starts[score::slot_of_nibble[(status >> 4) & 7]][status & 0x0F].view());
    }
    for (std::size_t channel = 0; channel < 16; ++channel) {
        line_texts::start_text& start = texts.note_starts[channel];
        start.append(keyword::note);
        start.append(" ch=");
        const char number[] = {static_cast<char>('0' + (channel + 1) / 10),
                               static_cast<char>('0' + (channel + 1) % 10)};
        start.append(channel + 1 < 10 ? std::string_view(number + 1, 1) : std::string_view(number, 2));
        start.append(formats.slots[slot_note_on].second.view());
    }
    for (std::size_t slot = 0; slot < texts.notes.size(); ++slot) {
        for (std::size_t note = 0; note < 256; ++note) {
            texts.notes[slot][note].append(named_notes[note].view());
            texts.notes[slot][note].append(formats.slots[slot].third.view());
        }
    }
    return texts;
}
inline constexpr line_texts short_line_texts = make_line_texts(short_channel_formats);
inline constexpr line_texts long_line_texts = make_line_texts(long_channel_formats);

// The note lines' texts up to their last value whole, so that the
// commonest lines copy one text: "On ch=1 n=c#4 v=" by status byte (0x80
// to 0xAF) and note, then "Note ch=1 n=c#4 v=" by channel and note. Half
// a MiB, made from line_texts when a format set is first used.
struct note_line_texts {
    static constexpr std::size_t note_row = 0x30;  // the first Note row, after the status bytes'
    static constexpr std::size_t rows = note_row + 16;
    using text = line_texts::start_text;
    const line_texts& from;
    std::unique_ptr<text[]> texts{new text[rows * 256]};
    std::array<bool, rows> made{};

    explicit note_line_texts(const line_texts& texts_from) : from(texts_from) {}

    // A row is made when a line first needs it: a small file uses a few of
    // them, and making all of them would cost it more than its listing.
    void make(std::size_t row);
    const text& of(std::size_t row, unsigned value) {
        if (!made[row]) [[unlikely]]
            make(row);
        return texts[row << 8 | value];
    }
};
// Each row's start and the longest note text after it fit the text.
constexpr bool note_lines_fit(const line_texts& texts) {
    std::size_t longest_note = 0;
    for (const auto& slot : texts.notes) {
        for (const auto& note : slot) longest_note = std::max<std::size_t>(longest_note, note.size);
    }
    for (std::size_t status = 0x80; status < 0xB0; ++status) {
        if (texts.starts[status - 0x80].size + longest_note > note_line_texts::text::capacity) return false;
    }
    for (const auto& start : texts.note_starts) {
        if (start.size + longest_note > note_line_texts::text::capacity) return false;
    }
    return true;
}
static_assert(note_lines_fit(short_line_texts) && note_lines_fit(long_line_texts));

// Made with fixed-size copies through a scratch line.
inline void note_line_texts::make(std::size_t row) {
    const bool note = row >= note_row;
    const text& start = note ? from.note_starts[row - note_row] : from.starts[row];
    const std::size_t slot = note ? slot_note_on : score::slot_of_nibble[(row >> 4) & 7];
    text* t = &texts[row << 8];
    for (const line_texts::note_text& value : from.notes[slot]) {
        char line[text::capacity + line_texts::note_text::capacity + 2];
        std::memcpy(line, start.text, text::capacity);
        std::memcpy(line + start.size, value.text, line_texts::note_text::capacity);
        std::memcpy(t->text, line, text::capacity);
        t->size = static_cast<std::uint8_t>(start.size + value.size);
        ++t;
    }
    made[row] = true;
}

// The note line texts of a format set's line_texts, made row by row as
// lines need them.
inline note_line_texts& note_texts_of(const line_texts& texts) {
    if (&texts == &long_line_texts) {
        static note_line_texts long_texts(long_line_texts);
        return long_texts;
    }
    static note_line_texts short_texts(short_line_texts);
    return short_texts;
}

}  // namespace smfasm::score_texts
