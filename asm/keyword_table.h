// The event keywords and a channel line's labels, read from the writer's
// own tables and packed into words, so that the assembler finds a keyword
// with one multiplication and one compare.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "state/keywords.h"
#include "state/tables.h"

namespace smfasm::assembly {

// What a keyword after the time column starts.
enum class event_kind : std::uint8_t {
    none,
    channel,
    sysex,
    arbitrary,
    sequencer_specific,
    meta,
    sequence_number,
    tempo,
    smpte,
    time_signature,
    key_signature,
    note  // the score form's Note line
};

// Eight bytes of text as one number (the first byte lowest), so that a
// short word compares with one instruction. The reader keeps room behind
// every line for such a load.
inline std::uint64_t load8(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

constexpr std::uint64_t low_bytes_mask(std::size_t bytes) {
    return bytes >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * bytes)) - 1;
}

constexpr std::uint64_t pack(std::string_view text) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < text.size() && i < 8; ++i)
        v |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
    return v;
}

// A value's label and its "=", packed.
struct packed_label {
    std::uint64_t key = 0;
    std::uint64_t mask = 0;
    std::size_t size = 0;

    constexpr packed_label() = default;
    constexpr explicit packed_label(std::string_view label) : size(label.size() + 1) {
        key = pack(label) | std::uint64_t{'='} << (8 * label.size());
        mask = low_bytes_mask(size);
    }
};

// A channel line's words, taken apart from the writer's own formats:
// "On ch=" gives the keyword "On" and the label "ch", " n=" the label "n".
struct channel_syntax {
    std::string_view channel_label;
    std::array<std::string_view, 2> second;  // short and long set
    std::array<std::string_view, 2> third;   // empty for one-value lines
    // The same, packed for the quick reading of whole lines.
    packed_label packed_channel;
    std::array<packed_label, 2> packed_second;
    std::array<packed_label, 2> packed_third;
};

constexpr std::string_view label_of(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && text.back() == '=') text.remove_suffix(1);
    return text;
}

constexpr std::string_view head_keyword(const channel_format& format) {
    const std::string_view head = format.head.view();
    return head.substr(0, head.find(' '));
}

struct keyword_entry {
    std::uint64_t key = 0;
    event_kind kind = event_kind::none;
    std::uint8_t slot = 0;
};

// The event keywords, each in a slot of its own: one multiplication and one
// compare per line on the hot path.
class keyword_table {
public:
    keyword_table() {
        for (std::size_t s = 0; s < channel_slot_count; ++s) {
            add(head_keyword(short_channel_formats.slots[s]), event_kind::channel, s);
            add(head_keyword(long_channel_formats.slots[s]), event_kind::channel, s);
            const channel_format& short_format = short_channel_formats.slots[s];
            const channel_format& long_format = long_channel_formats.slots[s];
            const std::string_view head = short_format.head.view();
            syntax_[s].channel_label = label_of(head.substr(head.find(' ')));
            syntax_[s].second = {label_of(short_format.second.view()), label_of(long_format.second.view())};
            syntax_[s].third = {label_of(short_format.third.view()), label_of(long_format.third.view())};
            syntax_[s].packed_channel = packed_label(syntax_[s].channel_label);
            for (std::size_t set = 0; set < 2; ++set) {
                syntax_[s].packed_second[set] = packed_label(syntax_[s].second[set]);
                syntax_[s].packed_third[set] = packed_label(syntax_[s].third[set]);
            }
        }
        add(keyword::sysex, event_kind::sysex);
        add(keyword::arbitrary, event_kind::arbitrary);
        add(keyword::sequencer_specific, event_kind::sequencer_specific);
        add(keyword::meta, event_kind::meta);
        add(keyword::sequence_number, event_kind::sequence_number);
        add(keyword::tempo, event_kind::tempo);
        add(keyword::smpte, event_kind::smpte);
        add(keyword::time_signature, event_kind::time_signature);
        add(keyword::key_signature, event_kind::key_signature);
        add(keyword::note, event_kind::note, slot_note_on);
        place();
    }

    const keyword_entry* find(std::string_view word) const {
        if (word.empty() || word.size() > 8) return nullptr;
        return find_packed(pack(word));
    }
    // The word of `size` letters at `p`, which has room behind it.
    const keyword_entry* find_at(const char* p, std::size_t size) const {
        if (size == 0 || size > 8) return nullptr;
        return find_packed(load8(p) & low_bytes_mask(size));
    }

    const channel_syntax& syntax(std::size_t slot) const { return syntax_[slot]; }

private:
    // Keywords are letters, at most eight of them, so the packed word is
    // the whole word and zero bytes mark its end. A multiplier that gives
    // every keyword a slot of its own is found once, so that a lookup is one
    // multiplication and one compare.
    std::size_t slot_of(std::uint64_t key) const { return (key * multiplier_) >> 58; }
    const keyword_entry* find_packed(std::uint64_t key) const {
        const keyword_entry& e = entries_[slot_of(key)];
        return e.kind != event_kind::none && e.key == key ? &e : nullptr;
    }
    void add(std::string_view word, event_kind kind, std::size_t slot = 0) {
        const std::uint64_t key = pack(word);
        for (const keyword_entry& e : words_) {
            if (e.key == key) return;  // both format sets share the keyword
        }
        words_.push_back({key, kind, static_cast<std::uint8_t>(slot)});
    }
    void place() {
        for (std::uint64_t candidate = 0x9E3779B97F4A7C15u;;
             candidate = candidate * 6364136223846793005u + 1442695040888963407u) {
            multiplier_ = candidate | 1;
            entries_ = {};
            bool distinct = true;
            for (const keyword_entry& e : words_) {
                keyword_entry& slot = entries_[slot_of(e.key)];
                distinct = distinct && slot.kind == event_kind::none;
                slot = e;
            }
            if (distinct) return;
        }
    }

    std::vector<keyword_entry> words_;
    std::uint64_t multiplier_ = 1;
    std::array<keyword_entry, 64> entries_{};
    std::array<channel_syntax, channel_slot_count> syntax_{};
};

// The one table, built before main.
inline const keyword_table keyword_lookup;
inline const keyword_table& keywords() { return keyword_lookup; }

}  // namespace smfasm::assembly
