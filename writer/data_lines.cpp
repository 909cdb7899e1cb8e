// Quoted text, hex dumps and the lines built on them.
#include <array>
#include <cstdint>
#include <cstring>

#include "state/keywords.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"
#include "writer/writer.h"

namespace smfasm {

namespace {

// Each byte's printed form; its length is also how far it moves the column.
struct escaped_byte {
    char text[4];
    std::uint8_t length;
};

constexpr std::array<escaped_byte, 256> make_escapes() {
    constexpr char hex[] = "0123456789abcdef";
    std::array<escaped_byte, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        escaped_byte& e = table[b];
        const auto c = static_cast<char>(b);
        if (b == 0x00 || b == '\n' || b == '\r' || b == '"' || b == '\\') {
            e.text[0] = '\\';
            e.text[1] = b == 0x00 ? '0' : b == '\n' ? 'n' : b == '\r' ? 'r' : c;
            e.length = 2;
        } else if (b >= 0x20 && b <= 0x7E) {
            e.text[0] = c;
            e.length = 1;
        } else {
            e.text[0] = '\\';
            e.text[1] = 'x';
            e.text[2] = hex[b >> 4];
            e.text[3] = hex[b & 0xF];
            e.length = 4;
        }
    }
    return table;
}
constexpr std::array<escaped_byte, 256> escapes = make_escapes();

// The column is only an estimate for folding: every payload starts as if
// at column 25, whatever the line already holds. It is 64-bit so that a
// huge payload under a huge width cannot overflow it.
constexpr std::int64_t payload_start_column = 25;

// write_time leaves a line's room, which covers every label here.
void hex_line(std::string_view label, std::int32_t length, const unsigned char* data) {
    write_time();
    put_text(label);
    write_hex(data, length);
}

// "Meta 0x%02x": a meta type without a name.
void put_meta_type(int type) {
    put_text(keyword::meta);
    put_text(" 0x");
    put_hex2(static_cast<unsigned>(type));
}

}  // namespace

void write_quoted(const unsigned char* data, std::int32_t length) {
    const std::int32_t width = state.fold_width;
    // Short text that cannot reach the fold (most lyrics and names): one
    // reservation, and each byte's printed form stored whole through a
    // local pointer, instead of a reservation and a fold test per byte.
    if (length <= 256 && (width == 0 || payload_start_column + std::int64_t{4} * length < width)) {
        char* p = output_line(static_cast<std::size_t>(4 * length) + 4);
        *p++ = '"';
        for (std::int32_t i = 0; i < length; ++i) {
            const escaped_byte& e = escapes[data[i]];
            std::memcpy(p, e.text, sizeof e.text);
            p += e.length;
        }
        *p++ = '"';
        *p++ = '\n';
        output_commit(p);
        return;
    }
    std::int64_t column = payload_start_column;
    output_reserve(line_reserve);
    put_char('"');
    for (std::int32_t i = 0; i < length; ++i) {
        const unsigned char byte = data[i];
        output_reserve(8);
        if (width != 0 && column >= width) {
            put_text("\\\n\t");
            column = 13;
            // A blank first on a continuation line would be invisible.
            if (byte == ' ') {
                put_char('\\');
                column = 14;
            }
        }
        const escaped_byte& e = escapes[byte];
        put_text({e.text, e.length});
        column += e.length;
    }
    output_reserve(2);
    put_text("\"\n");
}

void write_hex(const unsigned char* data, std::int32_t length) {
    const std::int32_t width = state.fold_width;
    std::int64_t column = payload_start_column;
    for (std::int32_t i = 0; i < length; ++i) {
        output_reserve(5);
        if (width != 0 && column >= width) {
            put_text("\\\n\t");
            column = 14;
        } else {
            put_char(' ');
            column += 3;
        }
        put_hex2(data[i]);
    }
    output_reserve(1);
    put_char('\n');
}

void write_sysex_line(std::int32_t length, const unsigned char* data) { hex_line(keyword::sysex, length, data); }
void write_arbitrary_line(std::int32_t length, const unsigned char* data) {
    hex_line(keyword::arbitrary, length, data);
}

void on_sysex(std::int32_t length, const unsigned char* data) {
    if (state.score_form != 0) return score_hold_sysex(false, length, data);
    write_sysex_line(length, data);
}
void on_arbitrary(std::int32_t length, const unsigned char* data) {
    if (state.score_form != 0) return score_hold_sysex(true, length, data);
    write_arbitrary_line(length, data);
}
void on_sequencer_specific(std::int32_t length, const unsigned char* data) {
    hex_line(keyword::sequencer_specific, length, data);
}

void on_meta_other(int type, std::int32_t length, const unsigned char* data) {
    write_time();
    put_meta_type(type);
    write_hex(data, length);
}

void on_meta_text(int type, std::int32_t length, const unsigned char* data) {
    write_time();
    if (type < 1 || type > 8) {
        put_meta_type(type);
        put_char(' ');
    } else {
        put_text(keyword::meta);
        put_char(' ');
        put_text(type == meta_type::sequence_name && state.tracks_started == 1
                     ? keyword::sequence_name
                     : meta_text_names[static_cast<unsigned>(type)]);
        put_char(' ');
    }
    write_quoted(data, length);
}

}  // namespace smfasm
