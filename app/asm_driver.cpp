#include "app/asm_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/convert.h"
#include "app/files.h"
#include "asm/listing_reader.h"

namespace smfasm {

namespace {

constexpr const char* usage = "usage: smfasm [-bBtTnNvVmM] [-f[N]] [--no-running-status] [--] LISTING [OUTPUT]\n";
constexpr const char* version = "smfasm 1.0.0\n";
constexpr std::size_t write_block = std::size_t{256} * 1024;

// All of `size` bytes to `fd`, across short writes and interruptions; false
// with errno set on failure.
bool write_all(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            if (done == 0) errno = EIO;
            return false;
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// Writes the file's bytes to a descriptor in large blocks; the first
// failure is kept and later writes are dropped.
class descriptor_sink : public byte_sink {
public:
    explicit descriptor_sink(int fd) : fd_(fd) { buffer_.reserve(write_block); }

    void write(const unsigned char* data, std::size_t size) override {
        if (buffer_.size() + size > write_block) flush();
        if (size >= write_block) {
            write_through(data, size);
        } else {
            buffer_.insert(buffer_.end(), data, data + size);
        }
    }
    // False, with the error kept, when any write failed.
    bool flush() {
        write_through(buffer_.data(), buffer_.size());
        buffer_.clear();
        return error_ == 0;
    }
    int error() const { return error_; }

private:
    void write_through(const unsigned char* data, std::size_t size) {
        if (error_ == 0 && !write_all(fd_, data, size)) error_ = errno;
    }

    int fd_;
    int error_ = 0;
    std::vector<unsigned char> buffer_;
};

// The temporary file beside the output, removed should a signal end the
// run before it is installed: a stopped run leaves nothing behind.
char pending_temp[4096];

extern "C" void remove_pending_temp(int signal_number) {
    if (pending_temp[0] != '\0') ::unlink(pending_temp);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void remove_temp_on_signals(const std::string& name) {
    if (name.size() >= sizeof pending_temp) return;
    std::memcpy(pending_temp, name.c_str(), name.size() + 1);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, remove_pending_temp);
}

void forget_temp() {
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, SIG_DFL);
    pending_temp[0] = '\0';
}

// An unnamed file for output that cannot be renamed into place (standard
// output, a device, a FIFO): the bytes wait there until the listing has
// assembled without error.
int anonymous_temp() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/smfasm-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}

bool copy_file(int from, int to) {
    if (::lseek(from, 0, SEEK_SET) != 0) return false;
    std::vector<char> block(write_block);
    for (;;) {
        const ssize_t got = ::read(from, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (!write_all(to, block.data(), static_cast<std::size_t>(got))) return false;
    }
}

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
        if (w == "--help") {
            std::fputs(usage, stdout);
            std::fputs("Assembles a listing written by smfdis back into a Standard MIDI File.\n", stdout);
            return 0;
        }
        if (w == "--version") {
            std::fputs(version, stdout);
            return 0;
        }
        if (w == "--no-running-status") {
            line.options.running_status = false;
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

}  // namespace

int run_assembler(int argc, char** argv) {
    prepare_process();
    command_line line;
    if (const int status = scan_command_line(argc, argv, line); status >= 0) return status;

    const std::string listing_name = line.listing;
    const bool from_stdin = listing_name == "-";
    if (from_stdin && line.output == nullptr) return usage_error("reading standard input needs an OUTPUT name");
    const std::string output_name = line.output != nullptr ? line.output : replace_last_dot_part(listing_name, ".mid");
    const bool to_stdout = output_name == "-";
    if (to_stdout && ::isatty(STDOUT_FILENO) != 0) {
        std::fputs("smfasm: refusing to write a MIDI file to a terminal\n", stderr);
        return 1;
    }

    const int input = from_stdin ? STDIN_FILENO : ::open(listing_name.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) return file_error("cannot open", listing_name, errno);

    // A device or FIFO under the output name is written as it stands, once
    // the file is whole; anything else gets a finished file renamed in.
    // So is the program's own standard output or error, under any name.
    const int stream = to_stdout ? STDOUT_FILENO : own_stream(output_name);
    struct stat info {};
    const bool in_place = stream >= 0 || (::stat(output_name.c_str(), &info) == 0 && !S_ISREG(info.st_mode));
    if (in_place && stream < 0 && S_ISDIR(info.st_mode)) return file_error("cannot write", output_name, EISDIR);
    std::string temp_name;
    const int temp = in_place ? anonymous_temp() : create_temp_beside(output_name, temp_name);
    if (temp < 0) return file_error("cannot create a file beside", output_name, errno);
    if (!in_place) remove_temp_on_signals(temp_name);
    // A failed run leaves no file behind.
    const auto abandon = [&] {
        if (!temp_name.empty()) ::unlink(temp_name.c_str());
        forget_temp();
    };
    const auto discard = [&] {
        ::close(temp);
        abandon();
    };

    listing_reader reader(input);
    descriptor_sink sink(temp);
    const std::string shown_name = from_stdin ? "<stdin>" : listing_name;
    const int errors = assemble(reader, shown_name.c_str(), line.options, sink, stderr);
    if (reader.read_error() != 0) {
        discard();
        return file_error("error reading", listing_name, reader.read_error());
    }
    if (!from_stdin) ::close(input);
    if (errors != 0) {
        discard();
        std::fprintf(stderr, "%s: %d error%s; no MIDI file written\n", shown_name.c_str(), errors,
                     errors == 1 ? "" : "s");
        return 1;
    }
    if (!sink.flush()) {
        const int error = sink.error();
        discard();
        return file_error("error writing", temp_name.empty() ? output_name : temp_name, error);
    }

    if (in_place) {
        const int target = stream >= 0 ? stream : ::open(output_name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        const bool copied = target >= 0 && copy_file(temp, target);
        const int error = errno;
        ::close(temp);
        if (target >= 0 && stream < 0 && ::close(target) != 0 && copied) {
            return file_error("error writing", output_name, errno);
        }
        if (!copied) return file_error("error writing", output_name, error);
        return 0;
    }
    if (::close(temp) != 0) {
        const int error = errno;
        abandon();
        return file_error("error writing", temp_name, error);
    }
    bool backup_failed = false;
    if (!install_file(temp_name, output_name, ".mid", backup_failed)) {
        const int error = errno;
        abandon();
        if (backup_failed) return 1;
        return file_error("cannot write", output_name, error);
    }
    forget_temp();
    return 0;
}

}  // namespace smfasm
