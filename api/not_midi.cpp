// What a file that is no MIDI file looks like instead, for the programs'
// and the package's messages: "Garbage at end" says nothing to someone who
// opened a WAV file or a listing by mistake.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/convert.h"

namespace smfasm {

namespace {

bool starts_with(const unsigned char* bytes, std::size_t length, const char* text) {
    const std::size_t size = std::strlen(text);
    return length >= size && std::memcmp(bytes, text, size) == 0;
}

bool looks_like_text(const unsigned char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char b = bytes[i];
        if (b < 0x20 && b != '\n' && b != '\r' && b != '\t') return false;
        if (b == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string describe_not_midi(const unsigned char* bytes, std::size_t length) {
    std::string text = "not a MIDI file: ";
    if (length == 0) return text + "it is empty";
    if (length < 4 && std::memcmp(bytes, "MThd", length) == 0) {
        return text + "it ends after " + std::to_string(length) + " of the 4 bytes of a header's tag";
    }
    if (starts_with(bytes, length, "RIFF"))
        return text + "it starts with \"RIFF\", as WAV audio and other RIFF files do";
    if (starts_with(bytes, length, "MFile")) return text + "it is a listing (smfasm assembles it)";
    if (length >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) return text + "it is gzip-compressed (gunzip it first)";
    if (looks_like_text(bytes, length)) {
        std::string shown;
        for (std::size_t i = 0; i < length && bytes[i] >= 0x20; ++i) shown += static_cast<char>(bytes[i]);
        return text + "it is text, starting \"" + shown + "\"";
    }
    text += "it starts with the bytes";
    constexpr char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < length && i < 8; ++i) {
        text += ' ';
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 15];
    }
    return text + ", where a MIDI file starts with \"MThd\"";
}

}  // namespace smfasm
