// Builds MIDI file bytes for tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace smfasm::test {

using bytes = std::vector<unsigned char>;

inline bytes& operator+=(bytes& a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline bytes operator+(bytes a, const bytes& b) { return a += b; }

inline bytes text_bytes(std::string_view text) { return bytes(text.begin(), text.end()); }

inline bytes be32(std::uint32_t v) {
    return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

inline bytes vlq(std::uint32_t v) {
    bytes out{static_cast<unsigned char>(v & 0x7F)};
    while ((v >>= 7) != 0) out.insert(out.begin(), static_cast<unsigned char>(0x80 | (v & 0x7F)));
    return out;
}

inline bytes header(int format, int tracks, int division, std::uint32_t length = 6) {
    bytes out = text_bytes("MThd") + be32(length);
    for (const int v : {format, tracks, division}) {
        out.push_back(static_cast<unsigned char>(v >> 8));
        out.push_back(static_cast<unsigned char>(v));
    }
    return out;
}

// A track chunk around `events`, with its length field set to their size
// unless `length` overrides it.
inline bytes track(const bytes& events, std::int64_t length = -1) {
    return text_bytes("MTrk") + be32(static_cast<std::uint32_t>(length < 0 ? events.size() : length)) + events;
}

// One meta event after `delta` ticks.
inline bytes meta(std::uint32_t delta, int type, const bytes& payload) {
    return vlq(delta) + bytes{0xFF, static_cast<unsigned char>(type)} +
           vlq(static_cast<std::uint32_t>(payload.size())) + payload;
}

inline bytes end_of_track(std::uint32_t delta = 0) { return meta(delta, 0x2F, {}); }

}  // namespace smfasm::test
