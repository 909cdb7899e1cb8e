#include "app/cat_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "api/convert.h"
#include "api/memory_stream.h"
#include "app/files.h"
#include "app/options.h"
#include "state/keywords.h"

namespace smfasm {

namespace {

constexpr const char* usage =
    "usage: smfcat [-bBtTnNvVmMs] [-f[N]] [--score] [--] [FILE...]\n"
    "       smfcat --help | --version\n";
constexpr const char* summary = "Writes the listing of each MIDI file, as smfdis writes it, to standard output.\n";
constexpr const char* version = "smfcat 1.0.0\n";
constexpr const char* stdin_name = "<stdin>";

struct command_line {
    lister_options options;
    std::vector<const char*> files;
};

int usage_error(const std::string& message) {
    std::fprintf(stderr, "smfcat: %s\n%s", message.c_str(), usage);
    return 2;
}

// Returns -1 when the run goes on, or the exit status to end with. Flags
// may stand anywhere before "--"; "-" is a file name (standard input).
int scan_command_line(int argc, char** argv, command_line& line) {
    bool flags_ended = false;
    for (int word = 1; word < argc; ++word) {
        const std::string_view w = argv[word];
        if (flags_ended || w.size() < 2 || w[0] != '-') {
            line.files.push_back(argv[word]);
            continue;
        }
        if (w == "--") {
            flags_ended = true;
            continue;
        }
        if (answer_help_or_version(w, usage, summary, version)) return 0;
        if (w == "--score") {
            line.options.score = true;
            continue;
        }
        if (w[1] == '-') return usage_error("no such option: " + std::string(w));
        for (std::size_t i = 1; i < w.size(); ++i) {
            const char c = w[i];
            if (c == 'f' || c == 'F') {
                apply_lister_flag(line.options, c, argv[word] + i + 1);
                break;
            }
            if (c == 's') {
                line.options.score = true;
                continue;
            }
            if (std::strchr("bBtTnNvVmM", c) == nullptr)
                return usage_error("no such flag: " + std::string(w.substr(i)));
            apply_lister_flag(line.options, c, "");
        }
    }
    if (line.files.empty()) line.files.push_back("-");
    return -1;
}

// A file name on a comment line of its own: a line break or other control
// character in it would end the comment and break the listing.
void put_file_comment(const char* name) {
    std::string line = "# ";
    for (const char* c = name; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        line += byte < 0x20 || byte == 0x7F ? '?' : *c;
    }
    line += '\n';
    std::fputs(line.c_str(), stdout);
}

// Prints each line of the conversion's messages behind the program and file
// name.
void print_messages(const char* name, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::fprintf(stderr, "smfcat: %s: %.*s\n", name, static_cast<int>(end - start), text.data() + start);
        start = end + 1;
    }
}

std::string meta_kind(int type) {
    switch (type) {
        case meta_type::sequence_number: return std::string(keyword::sequence_number);
        case meta_type::end_of_track: return std::string(keyword::meta) + " " + std::string(keyword::end_of_track);
        case meta_type::tempo: return std::string(keyword::tempo);
        case meta_type::smpte: return std::string(keyword::smpte);
        case meta_type::time_signature: return std::string(keyword::time_signature);
        default: return std::string(keyword::key_signature);
    }
}

// Meta events that smfdis lists as ordinary values: their lines look right
// and assemble to other bytes.
void warn_about_inexact(const char* name, const inexact_meta_t& meta) {
    const std::string kind = meta_kind(meta.type);
    std::string what;
    if (meta.value < 0) {
        what = "a " + kind + " of " + std::to_string(meta.length) + (meta.length == 1 ? " byte" : " bytes") + " (a " +
               kind + " has " + std::to_string(meta.expected) + "), which the listing gives back with " +
               std::to_string(meta.expected);
    } else if (meta.type == meta_type::key_signature) {
        what = "a " + kind + " with mode " + std::to_string(meta.value) + " (0 " + std::string(keyword::major) +
               ", 1 " + std::string(keyword::minor) + "), which the listing gives back as 1";
    } else {
        what = "a " + kind + " with denominator exponent " + std::to_string(meta.value) +
               " (32 at most), which the listing gives back as 32";
    }
    if (meta.count > 1) {
        what += "; " + std::to_string(meta.count - 1) + " more such meta event" + (meta.count == 2 ? "" : "s") +
                " in the file";
    }
    std::fprintf(stderr, "smfcat: %s: warning: track %d at tick %d: %s\n", name, static_cast<int>(meta.track),
                 static_cast<int>(meta.time), what.c_str());
}

void warn_about_inexact_bend(const char* name, const inexact_bend_t& bend) {
    std::string more;
    if (bend.count > 1) {
        more = "; " + std::to_string(bend.count - 1) + " more such pitch bend" + (bend.count == 2 ? "" : "s") +
               " in the file";
    }
    std::fprintf(stderr,
                 "smfcat: %s: warning: track %d at tick %d: a pitch bend whose first data byte is %d (above 127), "
                 "which the listing gives back as %d with the second byte one higher (--score gives it back)%s\n",
                 name, static_cast<int>(bend.track), static_cast<int>(bend.time), static_cast<int>(bend.low),
                 static_cast<int>(bend.low - 128), more.c_str());
}

// What smfdis lists without a word but a reader should know: the listing
// looks complete and is not what the file claims to be.
void warn_about(const char* name, const stream_listing& listing) {
    if (listing.tracks_found < listing.tracks_announced) {
        std::fprintf(stderr, "smfcat: %s: warning: the header announces %d tracks, the file holds %d\n", name,
                     static_cast<int>(listing.tracks_announced), static_cast<int>(listing.tracks_found));
    }
    if (listing.partial_tag_length > 0) {
        std::fprintf(stderr, "smfcat: %s: warning: the file ends inside a chunk tag, after %d of its 4 bytes\n", name,
                     static_cast<int>(listing.partial_tag_length));
    }
}

// Lists one file to standard output; returns 0, 1 for a file that did not
// list completely, or -1 when standard output failed (which ends the run).
int cat_file(const char* name, const lister_options& options) {
    const bool from_stdin = std::strcmp(name, "-") == 0;
    const char* shown = from_stdin ? stdin_name : name;
    std::FILE* input = from_stdin ? stdin : std::fopen(name, "rb");
    struct stat info {};
    int error = input == nullptr ? errno : 0;
    if (input != nullptr && fstat(fileno(input), &info) == 0 && S_ISDIR(info.st_mode)) error = EISDIR;
    if (error != 0) {
        if (input != nullptr && !from_stdin) std::fclose(input);
        std::fprintf(stderr, "smfcat: %s: %s\n", shown, std::strerror(error));
        return 1;
    }

    // The conversion's messages are collected so that each line can be
    // prefixed; without memory for that they go to standard error as they are.
    memory_stream messages;
    std::FILE* said = messages.stream() != nullptr ? messages.stream() : stderr;
    const stream_listing listing = list_stream(input, shown, stdout, said, options);
    if (!from_stdin) std::fclose(input);
    if (listing.write_error != 0) {
        std::fprintf(stderr, "smfcat: error writing standard output: %s\n", std::strerror(listing.write_error));
        return -1;
    }
    if (!listing.not_midi.empty()) {
        // An empty file lists as nothing, as smfdis lists it: a warning.
        std::fprintf(stderr, "smfcat: %s: %s%s\n", shown, listing.status == 0 ? "warning: " : "",
                     listing.not_midi.c_str());
    } else {
        print_messages(shown, messages.take());
    }
    if (listing.inexact.count > 0) warn_about_inexact(shown, listing.inexact);
    if (listing.inexact_bend.count > 0) warn_about_inexact_bend(shown, listing.inexact_bend);
    if (listing.status == 0) warn_about(shown, listing);
    return listing.status == 0 ? 0 : 1;
}

}  // namespace

int run_cat(int argc, char** argv) {
    // A closed standard output would be opened on /dev/null below, and every
    // listing lost without a word.
    const bool output_closed = fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF;
    // So would a closed standard input, which would then list as nothing.
    const bool input_closed = fcntl(STDIN_FILENO, F_GETFD) == -1 && errno == EBADF;
    prepare_process();
    // A reader that has gone away (| head) ends the run as it ends cat's: by
    // the signal, without a message.
    std::signal(SIGPIPE, SIG_DFL);

    command_line line;
    if (const int status = scan_command_line(argc, argv, line); status >= 0) return status;
    if (output_closed) {
        std::fputs("smfcat: standard output is closed\n", stderr);
        return 1;
    }
    for (const char* name : line.files) {
        if (std::strcmp(name, "-") != 0) continue;
        if (input_closed) {
            std::fputs("smfcat: standard input is closed\n", stderr);
            return 1;
        }
        if (isatty(STDIN_FILENO) != 0) {
            return usage_error("standard input is a terminal: name a MIDI file or pipe one in");
        }
    }

    const bool several = line.files.size() > 1;
    int status = 0;
    for (const char* name : line.files) {
        if (several) put_file_comment(std::strcmp(name, "-") == 0 ? stdin_name : name);
        const int done = cat_file(name, line.options);
        if (done < 0) return 1;
        if (done != 0) status = 1;
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "smfcat: error writing standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

}  // namespace smfasm
