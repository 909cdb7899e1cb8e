#include "app/asm_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "api/convert.h"
#include "app/asm_output.h"
#include "app/files.h"
#include "app/options.h"
#include "asm/listing_reader.h"

namespace smfasm {

namespace {

constexpr const char* usage =
    "usage: smfasm [-bBtTnNvVmM] [-f[N]] [--no-running-status] [--strict] [--] LISTING [OUTPUT]\n";
constexpr const char* summary = "Assembles a listing written by smfdis back into a Standard MIDI File.\n";
constexpr const char* version = "smfasm 1.0.0\n";

struct command_line {
    assembly_options options;
    const char* listing = nullptr;
    const char* output = nullptr;
};

int usage_error(const char* message) {
    std::fprintf(stderr, "smfasm: %s\n%s", message, usage);
    return 2;
}

// Returns -1 when the run goes on, or the exit status to end with.
int scan_command_line(int argc, char** argv, command_line& line) {
    int word = 1;
    for (; word < argc; ++word) {
        const std::string_view w = argv[word];
        if (w.size() < 2 || w[0] != '-') break;
        if (w == "--") {
            ++word;
            break;
        }
        if (answer_help_or_version(w, usage, summary, version)) return 0;
        if (w == "--no-running-status") {
            line.options.running_status = false;
            continue;
        }
        if (w == "--strict") {
            line.options.strict = true;
            continue;
        }
        if (w[1] == '-') return usage_error(("no such option: " + std::string(w)).c_str());
        for (std::size_t i = 1; i < w.size(); ++i) {
            const char c = w[i];
            // The lister's F takes the rest of its word; it and the other
            // lister flags are accepted so that a user can repeat them.
            if (c == 'f' || c == 'F') break;
            if (c == 'm' || c == 'M') {
                line.options.packets = true;
            } else if (std::strchr("bBtTnNvV", c) == nullptr) {
                return usage_error(("no such flag: " + std::string(w.substr(i))).c_str());
            }
        }
    }
    if (word >= argc) return usage_error("no listing named");
    line.listing = argv[word++];
    if (word < argc) line.output = argv[word++];
    if (word < argc) return usage_error("too many arguments");
    return -1;
}

int file_error(const char* what, const std::string& name, int error) {
    std::fprintf(stderr, "smfasm: %s %s: %s\n", what, name.c_str(), std::strerror(error));
    return 1;
}

int refuse(const std::string& text) {
    std::fprintf(stderr, "smfasm: %s\n", text.c_str());
    return 1;
}

// The finished file, waiting in `temp`, written to whatever stands at
// `output_name` at this moment (or to `stream`, the program's own output):
// a device or FIFO as it stands; a regular file moved aside first, and a new
// file made, which a failed write removes again.
int write_in_place(int temp, const std::string& output_name, int stream) {
    descriptor opened;
    bool created = false;
    if (stream < 0) {
        const opened_output output = open_output(output_name, ".mid", assembler_rules);
        if (output.backup_failed) return 1;
        if (output.fd < 0) return file_error("cannot write", output_name, output.error);
        opened.reset(output.fd);
        struct stat info {};
        created = ::fstat(output.fd, &info) == 0 && S_ISREG(info.st_mode) && !same_file(output.fd, STDOUT_FILENO) &&
                  !same_file(output.fd, STDERR_FILENO);
    }
    const int target = stream >= 0 ? stream : opened.get();
    if (::isatty(target) != 0) return refuse("refusing to write a MIDI file to a terminal");
    if (shares_standard_error(target)) {
        return refuse("refusing to write the MIDI file to standard error, where the messages go (" + output_name +
                      " is standard error)");
    }
    bool written = copy_file(temp, target);
    int error = errno;
    if (written && !opened.close()) {
        written = false;
        error = errno;
    }
    if (written) return 0;
    if (created) ::unlink(output_name.c_str());
    return file_error("error writing", output_name, error);
}

int assemble_files(const command_line& line, int closed_streams) {
    const std::string listing_name = line.listing;
    const bool from_stdin = listing_name == "-";
    if (from_stdin && line.output == nullptr) return usage_error("reading standard input needs an OUTPUT name");
    if (from_stdin && (closed_streams & 1 << STDIN_FILENO) != 0) {
        return refuse("standard input is closed: there is no listing to read");
    }
    const std::string output_name =
        line.output != nullptr ? line.output : replace_extension(listing_name, ".mid", assembler_rules);
    const bool to_stdout = output_name == "-";

    // The program's own standard output or error, under any name, is
    // written as it stands, never moved aside: unless it was closed when the
    // program started (and now reads /dev/null), is a terminal, or is where
    // the messages go.
    int stream = to_stdout ? STDOUT_FILENO : own_stream(output_name);
    if (stream >= 0 && (closed_streams & 1 << stream) != 0) {
        if (to_stdout || output_name != "/dev/null") {
            return refuse(std::string(stream == STDOUT_FILENO ? "standard output" : "standard error") +
                          " is closed: there is nowhere to write the MIDI file");
        }
        stream = -1;
    }
    if (stream >= 0 && ::isatty(stream) != 0) return refuse("refusing to write a MIDI file to a terminal");
    if (stream >= 0 && shares_standard_error(stream)) {
        return refuse("refusing to write the MIDI file to standard error, where the messages go (" +
                      std::string(to_stdout ? "standard output" : output_name) + " is standard error)");
    }

    descriptor opened_input(from_stdin ? -1 : ::open(listing_name.c_str(), O_RDONLY | O_CLOEXEC));
    const int input = from_stdin ? STDIN_FILENO : opened_input.get();
    if (input < 0) return file_error("cannot open", listing_name, errno);

    // A device or FIFO under the output name is written as it stands, once
    // the file is whole; anything else gets a finished file renamed in.
    struct stat info {};
    const bool in_place = stream >= 0 || (::stat(output_name.c_str(), &info) == 0 && !S_ISREG(info.st_mode));
    if (in_place && stream < 0 && S_ISDIR(info.st_mode)) return file_error("cannot write", output_name, EISDIR);
    pending_file pending;  // a failed run leaves no file behind
    std::string temp_name;
    descriptor temp(in_place ? anonymous_temp() : create_temp_beside(output_name, temp_name));
    if (temp.get() < 0 && in_place) return file_error("cannot create a temporary file in", temp_directory(), errno);
    if (temp.get() < 0) return file_error("cannot create a temporary file beside", output_name, errno);
    if (!in_place) pending.hold(temp_name);

    listing_reader reader(input);
    descriptor_sink sink(temp.get());
    const std::string shown_name = from_stdin ? "<stdin>" : listing_name;
    const int errors = assemble(reader, shown_name.c_str(), line.options, sink, stderr);
    if (reader.read_error() != 0) return file_error("error reading", listing_name, reader.read_error());
    if (errors != 0) {
        std::fprintf(stderr, "%s: %d error%s; no MIDI file written\n", shown_name.c_str(), errors,
                     errors == 1 ? "" : "s");
        return 1;
    }
    if (!sink.flush()) return file_error("error writing", output_name, sink.error());
    if (in_place) return write_in_place(temp.get(), output_name, stream);
    if (!temp.close()) return file_error("error writing", output_name, errno);
    bool backup_failed = false;
    if (install_file(temp_name, output_name, ".mid", backup_failed, assembler_rules)) {
        pending.installed();
        return 0;
    }
    const int error = errno;
    if (backup_failed) return 1;
    if (error == EEXIST) {
        // A device or FIFO took the name while the listing was read: it is
        // written as it stands now.
        const descriptor finished(::open(temp_name.c_str(), O_RDONLY | O_CLOEXEC));
        if (finished.get() >= 0) return write_in_place(finished.get(), output_name, own_stream(output_name));
    }
    return file_error("cannot write", output_name, error);
}

}  // namespace

int run_assembler(int argc, char** argv) {
    const int closed_streams = prepare_process();
    command_line line;
    if (const int status = scan_command_line(argc, argv, line); status >= 0) return status;
    // Whatever was made on the way is removed as the exception passes.
    try {
        return assemble_files(line, closed_streams);
    } catch (const std::bad_alloc&) {
        return refuse(std::string("out of memory while assembling ") + line.listing);
    } catch (const std::exception& error) {
        return refuse(std::string("cannot assemble ") + line.listing + ": " + error.what());
    }
}

}  // namespace smfasm
