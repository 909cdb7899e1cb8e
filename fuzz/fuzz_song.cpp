// libFuzzer target: the reentrant decoder and the event table over the
// bytes of a MIDI file. A file it decodes must be written back from its
// table byte for byte; anything else must be refused, never misread. The
// song's arrays of the same file hold notes of no negative length and bars
// that count up, within the song.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/event_table.h"
#include "api/song_arrays.h"
#include "score/song.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    smfasm::score::song song;
    if (smfasm::score::decode_song(data, size, song)) return 0;
    smfasm::event_table table;
    smfasm::table_from_song(song, table);
    std::vector<unsigned char> written;
    if (!smfasm::write_table(smfasm::columns_of(table), written).empty()) std::abort();
    if (written.size() != size || std::memcmp(written.data(), data, size) != 0) std::abort();

    smfasm::song_arrays arrays;
    if (!smfasm::arrays_from_song(song, arrays, 4096).empty()) return 0;
    for (const double length : arrays.note_length) {
        if (length < 0 && length != -1) std::abort();
    }
    for (std::size_t i = 0; i < arrays.bar_number.size(); ++i) {
        if (arrays.bar_tick[i] > arrays.end_tick) std::abort();
        const bool same_track = i > 0 && arrays.bar_track[i] == arrays.bar_track[i - 1];
        if (same_track &&
            (arrays.bar_number[i] != arrays.bar_number[i - 1] + 1 || arrays.bar_tick[i] <= arrays.bar_tick[i - 1])) {
            std::abort();
        }
    }
    return 0;
}
