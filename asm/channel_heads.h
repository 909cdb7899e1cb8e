// The quick reader's keyword switch: a channel line's keyword and " ch="
// found with one multiplication of their first four bytes, in tables built
// at compile time from the writer's own formats.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "asm/keyword_table.h"
#include "state/keywords.h"
#include "state/tables.h"

namespace smfasm::assembly::quick {

// Text packed as it stands, such as " n=": empty text has size 0.
constexpr packed_label packed_text(std::string_view text) {
    packed_label label;
    label.key = pack(text);
    label.mask = low_bytes_mask(text.size());
    label.size = text.size();
    return label;
}

// What a channel line's keyword and its " ch=" tell, found by the first
// four bytes: the line's head ("On ch=", "PolyPr ch=") to compare in two
// words, its slot, whether it is the score form's Note, and the labels
// behind the channel, each with its blank (" n=", " vol="), of one format
// set.
struct alignas(128) channel_head {
    std::array<std::uint64_t, 2> word{};
    std::array<std::uint64_t, 2> mask{};
    packed_label second;
    packed_label third;  // size 0 for lines of one value
    std::uint8_t size = 0;
    std::uint8_t slot = 0;
    bool note = false;
    std::uint8_t status = 0;  // the status byte on channel 1
};
static_assert(sizeof(channel_head) == 128, "a head is found with a shift");

// Every channel head of either format set (and Note in the score form) in
// a slot of its own, by a multiplication of its first four bytes: a
// keyword switch of one load, one multiplication and two compares. Empty
// slots hold a copy of a real head, which only that head's text matches.
// A table gives the labels of one format set, whichever set the keyword
// comes from (the general reader takes either).
class channel_heads {
public:
    constexpr channel_heads(bool score, std::size_t set) {
        std::array<channel_head, 2 * channel_slot_count + 1> all{};
        std::size_t count = 0;
        const channel_format_set& labels = set == 0 ? short_channel_formats : long_channel_formats;
        const auto add = [&](std::string_view head, std::size_t slot, bool note) {
            for (std::size_t i = 0; i < count; ++i) {
                if (all[i].size == head.size() && all[i].word[0] == pack(head)) return;  // both sets share it
            }
            channel_head& h = all[count++];
            h.word = {pack(head), head.size() > 8 ? pack(head.substr(8)) : 0};
            h.mask = {low_bytes_mask(head.size()), head.size() > 8 ? low_bytes_mask(head.size() - 8) : 0};
            h.second = packed_text(labels.slots[slot].second.view());
            h.third = packed_text(labels.slots[slot].third.view());
            h.size = static_cast<std::uint8_t>(head.size());
            h.slot = static_cast<std::uint8_t>(slot);
            h.note = note;
            h.status = static_cast<std::uint8_t>(channel_slot_status[slot]);
        };
        for (std::size_t s = 0; s < channel_slot_count; ++s) {
            add(short_channel_formats.slots[s].head.view(), s, false);
            add(long_channel_formats.slots[s].head.view(), s, false);
        }
        // The score form's Note takes the channel as a note-on does.
        if (score) {
            const std::string_view on = short_channel_formats.slots[slot_note_on].head.view();
            char text[16] = {};
            std::size_t size = 0;
            for (const char c : keyword::note) text[size++] = c;
            // " ch=" behind the keyword, found by hand: string_view's own
            // search is no constant expression in sanitized builds.
            bool behind = false;
            for (const char c : on) {
                behind = behind || c == ' ';
                if (behind) text[size++] = c;
            }
            add(std::string_view(text, size), slot_note_on, true);
        }
        std::array<bool, slots> taken{};
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = index(static_cast<std::uint32_t>(all[i].word[0]));
            if (taken[at]) throw "two heads in one slot: choose another multiplier";
            taken[at] = true;
            heads_[at] = all[i];
        }
        for (std::size_t at = 0; at < heads_.size(); ++at) {
            if (!taken[at]) heads_[at] = all[0];
        }
    }

    [[gnu::always_inline]] const channel_head* find(const char* p) const {
        const std::uint64_t first = load8(p);
        const channel_head& head = heads_[index(static_cast<std::uint32_t>(first))];
        const std::uint64_t differs =
            ((first ^ head.word[0]) & head.mask[0]) | ((load8(p + 8) ^ head.word[1]) & head.mask[1]);
        return differs == 0 ? &head : nullptr;
    }

private:
    static constexpr std::size_t slots = 32;
    // Tried until every head had a slot of its own (the build fails if one
    // no longer does).
    static constexpr std::uint32_t multiplier = 0xA0C1AC9Bu;
    static constexpr std::size_t index(std::uint32_t first_four) { return (first_four * multiplier) >> 27; }

    std::array<channel_head, slots> heads_{};
};

// By format set, built at compile time.
inline constexpr std::array<channel_heads, 2> tick_heads{channel_heads(false, 0), channel_heads(false, 1)};
inline constexpr std::array<channel_heads, 2> score_heads{channel_heads(true, 0), channel_heads(true, 1)};

}  // namespace smfasm::assembly::quick
