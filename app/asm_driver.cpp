#include "app/asm_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "app/files.h"
#include "asm/assembler.h"
#include "asm/listing_reader.h"

namespace smfasm {

namespace {

constexpr const char* usage =
    "usage: smfasm [-bBtTnNvVmM] [-f[N]] [--no-running-status] [--strict] [--] LISTING [OUTPUT]\n";
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
    void rewrite(std::size_t offset, const unsigned char* data, std::size_t size) override {
        flush();
        if (error_ == 0 && ::pwrite(fd_, data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) {
            error_ = errno != 0 ? errno : EIO;
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

// Owns the temporary file beside the output until it is installed: removed
// on every other way out, an exception (out of memory) included.
class pending_file {
public:
    pending_file() = default;
    pending_file(const pending_file&) = delete;
    pending_file& operator=(const pending_file&) = delete;
    ~pending_file() { abandon(); }

    void hold(const std::string& name) {
        name_ = name;
        if (name.size() >= sizeof pending_temp) return;
        std::memcpy(pending_temp, name.c_str(), name.size() + 1);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, remove_pending_temp);
    }
    const std::string& name() const { return name_; }
    // The file took its name: nothing is left to remove.
    void installed() {
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, SIG_DFL);
        pending_temp[0] = '\0';
        name_.clear();
    }
    void abandon() {
        if (!name_.empty()) ::unlink(name_.c_str());
        installed();
    }

private:
    std::string name_;
};

// An open descriptor, closed on every way out.
class descriptor {
public:
    explicit descriptor(int fd = -1) : fd_(fd) {}
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    ~descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    // Closes it now; false, with errno set, when closing reports an error.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// The directory an unnamed temporary file goes to.
std::string temp_directory() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

// An unnamed file for output that cannot be renamed into place (standard
// output, a device, a FIFO): the bytes wait there until the listing has
// assembled without error.
int anonymous_temp() {
    std::string pattern = temp_directory() + "/smfasm-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
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

bool same_file(int a, int b) {
    struct stat first {};
    struct stat second {};
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// Messages go to standard error: a MIDI file written there would have them
// mixed in. A device that is no terminal (/dev/null) mixes nothing.
bool shares_standard_error(int fd) {
    struct stat info {};
    if (!same_file(fd, STDERR_FILENO) || ::fstat(fd, &info) != 0) return false;
    return !S_ISCHR(info.st_mode) || ::isatty(fd) != 0;
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
