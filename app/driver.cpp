#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/exit.h"
#include "app/options.h"
#include "reader/reader.h"
#include "state/state.h"
#include "state/tables.h"
#include "writer/output.h"

namespace smfasm {

namespace {

constexpr std::size_t input_buffer_size = std::size_t{64} * 1024;

namespace fs = std::filesystem;

// The existing output is moved aside only when it is a regular file that can
// be read: renaming a device node, a directory or a FIFO (whose probe would
// block) is never what a user asking for a listing means.
bool output_needs_backup(const std::string& name) {
    std::error_code error;
    if (!fs::is_regular_file(fs::status(name, error))) return false;
    std::FILE* probe = std::fopen(name.c_str(), "r");
    if (probe == nullptr) return false;
    std::fclose(probe);
    return true;
}

// A backup name is free only when nothing at all stands there: renaming onto
// an existing but unreadable file would destroy it.
bool name_taken(const std::string& name) {
    std::error_code error;
    const fs::file_type type = fs::symlink_status(name, error).type();
    return type != fs::file_type::not_found && type != fs::file_type::none;
}

std::string next_backup_name(const std::string& name) { return name.substr(0, last_dot(name)) + "$.mtx"; }

void back_up_output(const std::string& output_name) {
    if (!output_needs_backup(output_name)) return;
    std::string backup_name = next_backup_name(output_name);
    while (name_taken(backup_name)) backup_name = next_backup_name(backup_name);
    if (std::rename(output_name.c_str(), backup_name.c_str()) != 0) {
        std::fprintf(stderr, "***Error: Output file %s exists and cannot be renamed.\n", output_name.c_str());
        pause_and_exit(1);
    }
    std::fprintf(stderr, "Notice: Output file %s already exits.\n\tIt is renamed as %s\n", output_name.c_str(),
                 backup_name.c_str());
}

[[noreturn]] void report_write_error(const std::string& output_name, int error) {
    std::fprintf(stderr, "***Error while writing to output file %s\n", output_name.c_str());
    std::fprintf(stderr, "%s\n", std::strerror(error != 0 ? error : EIO));
    pause_and_exit(1);
}

void scan_flags(option_scanner& scanner, int argc, char** argv) {
    state.merge_sysex = 1;
    for (;;) {
        const int flag = scan_option(scanner, argc, argv, option_spec, 0);
        switch (flag) {
            case 0: return;
            case -1: pause_and_exit(1);
            case 'B':
            case 'b':
            case 'T':
            case 't': state.measure_mode = wrap_add(state.measure_mode, 1); break;
            case 'F':
            case 'f':
                state.fold_width = *scanner.option_argument != '\0' ? parse_width(scanner.option_argument) : 80;
                break;
            case 'M':
            case 'm': state.merge_sysex = 0; break;
            case 'N':
            case 'n': state.note_names = wrap_add(state.note_names, 1); break;
            case 'V':
            case 'v': state.channel_formats = &long_channel_formats; break;
            default: break;  // the "|" in option_spec
        }
    }
}

}  // namespace

std::size_t last_dot(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name.size() : dot;
}

std::string derive_output_name(const std::string& input_name) {
    return input_name.substr(0, last_dot(input_name)) + ".mtx";
}

std::FILE* open_input(const char* name, const char* mode) {
    std::FILE* file = std::fopen(name, mode);
    if (file == nullptr) {
        const int error = errno;
        std::fprintf(stderr, "***Error: Cannot open '%s'!\n", name);
        std::fputs(std::strerror(error), stderr);
    }
    return file;
}

void run_program(int argc, char** argv) {
    option_scanner scanner;
    scan_flags(scanner, argc, argv);

    int word = scanner.option_word_index;
    if (word >= argc) {
        std::fputs("***Error: No input file specified.\n", stderr);
        pause_and_exit(1);
    }
    const std::string input_name = argv[word++];
    state.input_name = input_name.c_str();
    state.input = open_input(input_name.c_str(), "rb");
    if (state.input == nullptr) pause_and_exit(1);
    std::setvbuf(state.input, nullptr, _IOFBF, input_buffer_size);

    const std::string output_name = word < argc ? std::string(argv[word]) : derive_output_name(input_name);
    back_up_output(output_name);

    state.output = std::fopen(output_name.c_str(), "w");
    if (state.output == nullptr) {
        const int error = errno;
        std::fprintf(stderr, "***Error: Can't open outputfile %s\n", output_name.c_str());
        std::fprintf(stderr, "%s\n", std::strerror(error));
        pause_and_exit(1);
    }
    convert_and_report(output_name);
}

void convert_and_report(const std::string& output_name) {
    std::fprintf(stderr, "Writing output to %s ...  ", output_name.c_str());

    convert_file();

    // A full disk must not be reported as success: flush before the test.
    if (!output_finish()) report_write_error(output_name, output_write_error());
    std::fseek(state.output, 0, SEEK_END);
    std::fprintf(stderr, "%ld bytes written.\n", std::ftell(state.output));

    std::fclose(state.input);
    state.input = nullptr;
    std::FILE* output = state.output;
    state.output = nullptr;
    if (std::fclose(output) != 0) report_write_error(output_name, errno);
    pause_and_exit(0);
}

}  // namespace smfasm
