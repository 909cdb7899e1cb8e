// Writes deterministic MIDI files for the benchmark.
//
//   make_midi dense SIZE_MIB OUT   16 tracks of dense channel traffic under
//                                  running status, with text and tempo metas
//                                  and a few system-exclusive messages;
//                                  written the canonical way (running status
//                                  only between channel events), so that
//                                  assembling its listing gives it back
//   make_midi lyrics SIZE_MIB OUT  the same with 2 % of its events short
//                                  lyrics and texts
//   make_midi sysex SIZE_MIB OUT   one track holding one system-exclusive
//                                  message of SIZE_MIB
//   make_midi every SIZE_MIB OUT [DIVISION]
//                                  4 tracks mixing every kind of event, odd
//                                  values included (for comparing writers)
//   make_midi habits SIZE_MIB OUT [SEED]
//                                  3 tracks of notes whose byte habits each
//                                  track follows only mostly: running status
//                                  now and then, across meta events too, ends
//                                  by note-on or note-off in any order, many
//                                  events at one tick, notes struck again
//                                  before their end (for the score form)
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

bytes dense_track(int index, std::size_t target, unsigned text_per_mille = 3) {
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
        if (kind < text_per_mille) {  // text meta; the dense file's one lyric, kept as it was
            static const char* const words[] = {"la", "Lyric \"sung\" here\n", "oh", "night-", "ingale ", "do", "re"};
            const bool varied = text_per_mille != 3;
            const char* text = varied ? words[rng.below(7)] : words[1];
            const auto size = static_cast<unsigned char>(std::strlen(text));
            t.insert(t.end(), {0xFF, static_cast<unsigned char>(varied && rng.below(8) == 0 ? 0x01 : 0x05), size});
            t.insert(t.end(), text, text + size);
            status = 0;
            continue;
        }
        if (kind < text_per_mille + 2) {  // tempo
            t.insert(t.end(), {0xFF, 0x51, 0x03, 0x07, static_cast<unsigned char>(rng.below(256)), 0x20});
            status = 0;
            continue;
        }
        if (kind < text_per_mille + 3) {  // system exclusive
            t.insert(t.end(), {0xF0, 0x08, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
            status = 0;
            continue;
        }
        int high;
        if (kind < 700)
            high = 0x9;
        else if (kind < 820)
            high = 0x8;
        else if (kind < 900)
            high = 0xB;
        else if (kind < 940)
            high = 0xE;
        else if (kind < 960)
            high = 0xA;
        else if (kind < 980)
            high = 0xC;
        else
            high = 0xD;
        const int s = high << 4 | channel;
        if (s != status) t.push_back(static_cast<unsigned char>(s));
        status = s;
        t.push_back(static_cast<unsigned char>(rng.below(128)));
        if (high != 0xC && high != 0xD) t.push_back(static_cast<unsigned char>(rng.below(128)));
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    return t;
}

void put_meta(bytes& t, int type, const bytes& payload) {
    t.push_back(0xFF);
    t.push_back(static_cast<unsigned char>(type));
    put_vlq(t, static_cast<std::uint32_t>(payload.size()));
    t.insert(t.end(), payload.begin(), payload.end());
}

bytes random_bytes(lcg& rng, unsigned max_size) {
    bytes b(rng.below(max_size + 1));
    for (auto& x : b) x = static_cast<unsigned char>(rng.below(256));
    return b;
}

// Every event kind the reader knows, with values at and past their edges.
bytes every_track(int index, std::size_t target) {
    bytes t;
    lcg rng{static_cast<std::uint32_t>(index) * 104729u + 7};
    int status = 0;
    while (t.size() < target) {
        const unsigned r = rng.below(100);
        put_vlq(t, r < 5 ? rng.below(100000) : rng.below(200));
        const unsigned kind = rng.below(24);
        if (kind < 10) {  // channel message, under running status when it can
            const int s = static_cast<int>(0x80 + rng.below(0x70));
            if (s != status || rng.below(4) == 0) t.push_back(static_cast<unsigned char>(s));
            status = s;
            t.push_back(static_cast<unsigned char>(rng.below(128)));
            const int high = s >> 4;
            if (high != 0xC && high != 0xD) t.push_back(static_cast<unsigned char>(rng.below(256)));
            // Now and then a pitch bend's first byte with its top bit, which
            // one number cannot tell from the second byte's lowest bit (only
            // behind its status byte: under running status it would be one).
            if (high == 0xE && t.back() >= 0xF0 && t.end()[-3] == s) t.end()[-2] |= 0x80;
            continue;
        }
        switch (kind) {
            case 10: put_meta(t, static_cast<int>(1 + rng.below(15)), random_bytes(rng, 120)); break;
            case 11:
                put_meta(t, 0x58,
                         {static_cast<unsigned char>(rng.below(13)),
                          static_cast<unsigned char>(rng.below(8) == 0 ? 28 + rng.below(8) : rng.below(7)),
                          static_cast<unsigned char>(rng.below(256)), 8});
                break;
            case 12:
                put_meta(t, 0x59,
                         {static_cast<unsigned char>(rng.below(256)), static_cast<unsigned char>(rng.below(3))});
                break;
            case 13: put_meta(t, 0x54, random_bytes(rng, 6)); break;
            case 14: put_meta(t, 0x51, random_bytes(rng, 4)); break;
            case 15: put_meta(t, 0x00, random_bytes(rng, 3)); break;
            case 16: put_meta(t, 0x7F, random_bytes(rng, 60)); break;
            case 17: put_meta(t, static_cast<int>(0x10 + rng.below(0x60)), random_bytes(rng, 40)); break;
            case 18: put_meta(t, 0x2F, {}); break;
            case 19: {  // complete system exclusive
                bytes payload = random_bytes(rng, 200);
                payload.push_back(0xF7);
                t.push_back(0xF0);
                put_vlq(t, static_cast<std::uint32_t>(payload.size()));
                t.insert(t.end(), payload.begin(), payload.end());
                break;
            }
            case 20: {  // split system exclusive: F0 without F7, packets, closing packet
                bytes first = random_bytes(rng, 50);
                for (auto& x : first) x &= 0x7F;
                t.push_back(0xF0);
                put_vlq(t, static_cast<std::uint32_t>(first.size()));
                t.insert(t.end(), first.begin(), first.end());
                for (unsigned n = rng.below(3); n > 0; --n) {
                    bytes packet = random_bytes(rng, 30);
                    for (auto& x : packet) x &= 0x7F;
                    put_vlq(t, rng.below(50));
                    t.push_back(0xF7);
                    put_vlq(t, static_cast<std::uint32_t>(packet.size()));
                    t.insert(t.end(), packet.begin(), packet.end());
                }
                bytes last = random_bytes(rng, 10);
                if (rng.below(4) != 0)
                    last.push_back(0xF7);  // an empty closing packet also closes
                else
                    last.clear();
                put_vlq(t, rng.below(50));
                t.push_back(0xF7);
                put_vlq(t, static_cast<std::uint32_t>(last.size()));
                t.insert(t.end(), last.begin(), last.end());
                break;
            }
            default: {  // arbitrary packet
                const bytes packet = random_bytes(rng, 20);
                t.push_back(0xF7);
                put_vlq(t, static_cast<std::uint32_t>(packet.size()));
                t.insert(t.end(), packet.begin(), packet.end());
            }
        }
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    return t;
}

// A track that keeps its habits only mostly, as real files do.
bytes habits_track(lcg& rng, std::size_t target, bool conductor) {
    bytes t;
    // The track's leanings, each broken now and then.
    const unsigned run_percent = std::vector<unsigned>{0, 50, 90, 100}[rng.below(4)];
    const unsigned ends_by_on_percent = std::vector<unsigned>{0, 10, 90, 100}[rng.below(4)];
    const unsigned off_velocity = rng.below(2) == 0 ? 64 : 0;
    struct sounding {
        int channel;
        int key;
    };
    std::vector<sounding> notes;
    int status = 0;
    const auto channel_event = [&](int s, int first, int second) {
        if (s != status || rng.below(100) >= run_percent) t.push_back(static_cast<unsigned char>(s));
        status = s;
        t.push_back(static_cast<unsigned char>(first));
        if (second >= 0) t.push_back(static_cast<unsigned char>(second));
    };
    const auto end_note = [&](std::size_t i) {
        const sounding n = notes[i];
        notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(i));
        if (rng.below(100) < ends_by_on_percent) {
            channel_event(0x90 | n.channel, n.key, 0);
        } else {
            channel_event(0x80 | n.channel, n.key,
                          rng.below(10) == 0 ? static_cast<int>(rng.below(128)) : static_cast<int>(off_velocity));
        }
    };
    while (t.size() < target) {
        put_vlq(t, rng.below(100) < 45 ? 0 : rng.below(200));
        const unsigned kind = rng.below(100);
        if (kind < 50) {
            const int channel = static_cast<int>(rng.below(3));
            const int key = 60 + static_cast<int>(rng.below(8));
            channel_event(0x90 | channel, key, 1 + static_cast<int>(rng.below(127)));
            notes.push_back({channel, key});
        } else if (kind < 85) {
            if (!notes.empty())
                end_note(rng.below(static_cast<unsigned>(notes.size())));
            else
                channel_event(0xB0, 7, static_cast<int>(rng.below(128)));
        } else if (kind < 90) {
            channel_event(0xB0 | static_cast<int>(rng.below(3)), static_cast<int>(rng.below(128)),
                          static_cast<int>(rng.below(128)));
        } else if (kind < 92) {
            channel_event(0xC0 | static_cast<int>(rng.below(3)), static_cast<int>(rng.below(128)), -1);
        } else if (kind < 94) {
            channel_event(0xE0 | static_cast<int>(rng.below(3)), static_cast<int>(rng.below(128)),
                          static_cast<int>(rng.below(128)));
        } else if (kind < 96) {  // a note that ends at its own tick
            const int key = 40 + static_cast<int>(rng.below(8));
            channel_event(0x91, key, 100);
            t.push_back(0);
            channel_event(0x81, key, 64);
        } else if (kind < 98) {  // a meta event, which running status may or may not cross
            const unsigned char tempo = static_cast<unsigned char>(rng.below(256));
            t.insert(t.end(), {0xFF, 0x51, 0x03, 0x07, tempo, 0x20});
        } else if (kind < 99) {
            t.insert(t.end(), {0xF0, 0x04, 0x43, 0x10, 0x4C, 0xF7});
        } else if (conductor) {
            t.insert(t.end(), {0xFF, 0x58, 0x04, static_cast<unsigned char>(2 + rng.below(6)),
                               static_cast<unsigned char>(2 + rng.below(2)), 24, 8});
        } else {
            t.insert(t.end(), {0xFF, 0x01, 0x01, 'x'});
        }
    }
    // Most notes end; a few are left sounding, as in real files.
    while (notes.size() > 1) {
        put_vlq(t, rng.below(3) == 0 ? 0 : rng.below(100));
        end_note(rng.below(static_cast<unsigned>(notes.size())));
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s dense|sysex|every|habits SIZE_MIB OUT [DIVISION|SEED]\n", argv[0]);
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
    } else if (mode == "lyrics") {
        const int tracks = 16;
        put_be(head, 1, 2);
        put_be(head, tracks, 2);
        put_be(head, 480, 2);
        put_chunk(file, "MThd", head);
        for (int i = 0; i < tracks; ++i) put_chunk(file, "MTrk", dense_track(i, size / tracks, 20));
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
    } else if (mode == "every") {
        const int tracks = 4;
        put_be(head, 1, 2);
        put_be(head, tracks, 2);
        put_be(head, argc == 5 ? static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 0)) : 96, 2);
        put_chunk(file, "MThd", head);
        for (int i = 0; i < tracks; ++i) put_chunk(file, "MTrk", every_track(i, size / tracks));
    } else if (mode == "habits") {
        const int tracks = 3;
        lcg rng{argc == 5 ? static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 0)) : 1u};
        put_be(head, 1, 2);
        put_be(head, tracks, 2);
        put_be(head, 96, 2);
        put_chunk(file, "MThd", head);
        for (int i = 0; i < tracks; ++i) put_chunk(file, "MTrk", habits_track(rng, size / tracks, i == 0));
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
