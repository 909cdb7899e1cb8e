// The assembler: listing lines in, Standard MIDI File bytes out.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "asm/listing_reader.h"

namespace smfasm {

struct assembly_options {
    // The listing was made with -m: every SysEx and Arb line is one packet
    // as it stood, never a message joined from several.
    bool packets = false;
    // Omit a channel event's status byte when it repeats the one before.
    bool running_status = true;
    // Every warning becomes an error.
    bool strict = false;
};

// One error or warning, as data for callers that show it their own way.
struct assembly_message {
    bool warning = false;  // false: an error
    long long line = 0;    // 1-based listing line; 0 when about the whole listing
    long long column = 0;  // 1-based byte column; 0 when none
    std::string text;      // the message alone, without name, line or column
};

// Where the file's bytes go: the header as soon as it is read, then each
// track chunk whole when its TrkEnd line is reached.
class byte_sink {
public:
    virtual void write(const unsigned char* data, std::size_t size) = 0;
    // Replaces bytes given before, `offset` bytes from the file's start:
    // the header's track count, when it differs from the tracks the listing
    // holds. Called at most once, after the last write, and only when the
    // listing assembled without error.
    virtual void rewrite(std::size_t offset, const unsigned char* data, std::size_t size) = 0;

protected:
    ~byte_sink() = default;
};

// The file's bytes kept in memory.
struct memory_sink final : byte_sink {
    std::vector<unsigned char> bytes;
    void write(const unsigned char* data, std::size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    void rewrite(std::size_t offset, const unsigned char* data, std::size_t size) override {
        std::copy(data, data + size, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    }
};

// At most this many bad lines are reported before the assembler gives up;
// at most this many warnings are shown (the rest are only counted).
inline constexpr int max_reported_errors = 20;

// Assembles the whole listing from `in`. Errors ("NAME:LINE:COLUMN:
// message", the line and a caret) and warnings ("NAME:LINE:COLUMN: warning:
// ...") go to `messages` unless it is null, and the same are appended to
// `collected` unless that is null (a warning made an error by `strict` as an
// error). Returns the number of errors: only with 0 are the bytes given to
// `out` a file.
int assemble(listing_reader& in, const char* name, const assembly_options& options, byte_sink& out, std::FILE* messages,
             std::vector<assembly_message>* collected = nullptr);

}  // namespace smfasm
