// Writes deterministic MIDI files for the benchmark.
//
//   make_midi dense SIZE_MIB OUT   16 tracks of dense channel traffic under
//                                  running status, with text and tempo metas
//                                  and a few system-exclusive messages
//   make_midi sysex SIZE_MIB OUT   one track holding one system-exclusive
//                                  message of SIZE_MIB
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

void put_vlq(bytes& out, std::uint32_t v) {
    unsigned char tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while ((v >>= 7) != 0) tmp[n++] = static_cast<unsigned char>(0x80 | (v & 0x7F));
    while (n > 0) out.push_back(tmp[--n]);
}

void put_be(bytes& out, std::uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void put_chunk(bytes& file, const char* tag, const bytes& body) {
    file.insert(file.end(), tag, tag + 4);
    put_be(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

// A small deterministic generator, so every run measures the same file.
struct lcg {
    std::uint32_t s;
    std::uint32_t next() { return s = s * 1664525u + 1013904223u; }
    unsigned below(unsigned n) { return (next() >> 8) % n; }
};

bytes dense_track(int index, std::size_t target) {
    bytes t;
    lcg rng{static_cast<std::uint32_t>(index) * 7919u + 1};
    const unsigned char channel = static_cast<unsigned char>(index & 0x0F);
    const char name[] = "Track name for the benchmark";
    t.insert(t.end(), {0x00, 0xFF, 0x03, static_cast<unsigned char>(sizeof name - 1)});
    t.insert(t.end(), name, name + sizeof name - 1);
    int status = 0;
    for (std::uint32_t n = 0; t.size() < target; ++n) {
        put_vlq(t, rng.below(8) == 0 ? rng.below(2000) : rng.below(24));
        const unsigned kind = rng.below(1000);
        if (kind < 3) {  // text meta
            const char text[] = "Lyric \"sung\" here\n";
            t.insert(t.end(), {0xFF, 0x05, static_cast<unsigned char>(sizeof text - 1)});
            t.insert(t.end(), text, text + sizeof text - 1);
            continue;
        }
        if (kind < 5) {  // tempo
            t.insert(t.end(), {0xFF, 0x51, 0x03, 0x07, static_cast<unsigned char>(rng.below(256)), 0x20});
            continue;
        }
        if (kind < 6) {  // system exclusive
            t.insert(t.end(), {0xF0, 0x08, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
            continue;
        }
        int high;
        if (kind < 700) high = 0x9;
        else if (kind < 820) high = 0x8;
        else if (kind < 900) high = 0xB;
        else if (kind < 940) high = 0xE;
        else if (kind < 960) high = 0xA;
        else if (kind < 980) high = 0xC;
        else high = 0xD;
        const int s = high << 4 | channel;
        if (s != status) t.push_back(static_cast<unsigned char>(s));
        status = s;
        t.push_back(static_cast<unsigned char>(rng.below(128)));
        if (high != 0xC && high != 0xD) t.push_back(static_cast<unsigned char>(rng.below(128)));
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s dense|sysex SIZE_MIB OUT\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const std::size_t size = static_cast<std::size_t>(std::atof(argv[2]) * 1024 * 1024);
    bytes file;
    bytes head;
    if (mode == "dense") {
        const int tracks = 16;
        put_be(head, 1, 2);
        put_be(head, tracks, 2);
        put_be(head, 480, 2);
        put_chunk(file, "MThd", head);
        for (int i = 0; i < tracks; ++i) put_chunk(file, "MTrk", dense_track(i, size / tracks));
    } else if (mode == "sysex") {
        put_be(head, 0, 2);
        put_be(head, 1, 2);
        put_be(head, 96, 2);
        put_chunk(file, "MThd", head);
        bytes t{0x00, 0xF0};
        put_vlq(t, static_cast<std::uint32_t>(size));
        for (std::size_t i = 0; i + 1 < size; ++i) t.push_back(static_cast<unsigned char>(i & 0x7F));
        t.push_back(0xF7);
        t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
        put_chunk(file, "MTrk", t);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
