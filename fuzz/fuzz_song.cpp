// libFuzzer target: the reentrant decoder and the event table over the
// bytes of a MIDI file. A file it decodes must be written back from its
// table byte for byte; anything else must be refused, never misread.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/event_table.h"
#include "score/song.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    smfasm::score::song song;
    if (smfasm::score::decode_song(data, size, song)) return 0;
    smfasm::event_table table;
    smfasm::table_from_song(song, table);
    std::vector<unsigned char> written;
    if (!smfasm::write_table(smfasm::columns_of(table), written).empty()) std::abort();
    if (written.size() != size || std::memcmp(written.data(), data, size) != 0) std::abort();
    return 0;
}
