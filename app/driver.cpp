#include "app/driver.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "api/convert.h"
#include "app/exit.h"
#include "app/files.h"
#include "app/options.h"
#include "state/state.h"

namespace smfasm {

namespace {

constexpr std::size_t input_buffer_size = std::size_t{64} * 1024;

// Opens the listing without destroying anything: whatever regular file
// stands at the name is moved aside first.
std::FILE* open_listing(const std::string& output_name) {
    const opened_output opened = open_output(output_name, ".mtx");
    if (opened.backup_failed) pause_and_exit(1);  // already reported
    int error = opened.error;
    if (opened.fd >= 0) {
        std::FILE* stream = fdopen(opened.fd, "w");
        if (stream != nullptr) return stream;
        error = errno;
        close(opened.fd);
    }
    std::fprintf(stderr, "***Error: Can't open outputfile %s\n", output_name.c_str());
    std::fprintf(stderr, "%s\n", std::strerror(error));
    pause_and_exit(1);
}

[[noreturn]] void report_write_error(const char* output_name, int error) {
    std::fprintf(stderr, "***Error while writing to output file %s\n", output_name);
    std::fprintf(stderr, "%s\n", std::strerror(error != 0 ? error : EIO));
    pause_and_exit(1);
}

void scan_flags(option_scanner& scanner, int argc, char** argv, list_options& options) {
    for (;;) {
        const int flag = scan_option(scanner, argc, argv, option_spec, 0);
        switch (flag) {
            case 0: return;
            case -1: pause_and_exit(1);
            case 'B':
            case 'b':
            case 'T':
            case 't': options.measures = true; break;
            case 'F':
            case 'f':
                options.fold_width = *scanner.option_argument != '\0' ? parse_width(scanner.option_argument) : 80;
                break;
            case 'M':
            case 'm': options.packets = true; break;
            case 'N':
            case 'n': options.note_names = true; break;
            case 'V':
            case 'v': options.long_formats = true; break;
            default: break;  // the "|" in option_spec
        }
    }
}

}  // namespace

std::string derive_output_name(const std::string& input_name) { return replace_last_dot_part(input_name, ".mtx"); }

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
    list_options options;
    scan_flags(scanner, argc, argv, options);

    int word = scanner.option_word_index;
    if (word >= argc) {
        std::fputs("***Error: No input file specified.\n", stderr);
        pause_and_exit(1);
    }
    const char* input_name = argv[word++];
    state.input_name = input_name;
    state.input = open_input(input_name, "rb");
    if (state.input == nullptr) pause_and_exit(1);
    std::setvbuf(state.input, nullptr, _IOFBF, input_buffer_size);

    const std::string output_name = word < argc ? std::string(argv[word]) : derive_output_name(input_name);
    state.output = open_listing(output_name);
    convert_and_report(output_name.c_str(), options);
}

void convert_and_report(const char* output_name, const list_options& options) {
    std::fprintf(stderr, "Writing output to %s ...  ", output_name);

    const stream_listing listed = list_stream(state.input, state.input_name, state.output, stderr, options);
    if (listed.status != 0) pause_and_exit(listed.status);  // already reported
    if (listed.write_error != 0) report_write_error(output_name, listed.write_error);
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
