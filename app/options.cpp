#include "app/options.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "state/state.h"

namespace smfasm {

int scan_option(option_scanner& scanner, int argc, char** argv, const char* spec, int quiet) {
    for (;;) {
        if (scanner.option_word_index >= argc) return 0;
        const char* current = scanner.option_position;
        if (current == nullptr) {
            ++scanner.option_word_index;
            if (scanner.option_word_index >= argc) return 0;
            current = argv[scanner.option_word_index];
            if (current[0] != '-') return 0;
        }
        ++current;
        if (*current == '\0') {
            scanner.option_position = nullptr;
            continue;
        }
        const char* found = std::strchr(spec, *current);
        if (found != nullptr) {
            scanner.option_position = current;
            if (found[1] == '|') {
                scanner.option_argument = current + 1;
                scanner.option_position = nullptr;
            }
            return static_cast<unsigned char>(*current);
        }
        scanner.option_position = nullptr;
        if (quiet == 0) {
            std::fprintf(stderr, "%s: no such flag: %s\n", argv[0], current);
            return -1;
        }
    }
}

int parse_width(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<std::uint32_t>(*text - '0');
    return static_cast<int>(negative ? 0u - value : value);
}

void apply_lister_flag(lister_options& options, int letter, const char* argument) {
    switch (letter) {
        case 'B':
        case 'b':
        case 'T':
        case 't': options.measure_mode = wrap_add(options.measure_mode, 1); break;
        case 'F':
        case 'f': options.fold_width = *argument != '\0' ? parse_width(argument) : 80; break;
        case 'M':
        case 'm': options.merge_sysex = 0; break;
        case 'N':
        case 'n': options.note_names = wrap_add(options.note_names, 1); break;
        case 'V':
        case 'v': options.long_formats = true; break;
        default: break;
    }
}

}  // namespace smfasm
