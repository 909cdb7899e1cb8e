// smfasm's output side: the file's bytes written to a descriptor, the
// temporary file that waits beside the output until it is installed, and
// what the output may and may not be (a terminal, standard error).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "asm/assembler.h"

namespace smfasm {

inline constexpr std::size_t write_block = std::size_t{256} * 1024;

// All of `size` bytes to `fd`, across short writes and interruptions; false
// with errno set on failure.
bool write_all(int fd, const void* data, std::size_t size);

// Writes the file's bytes to a descriptor in large blocks; the first
// failure is kept and later writes are dropped.
class descriptor_sink : public byte_sink {
public:
    explicit descriptor_sink(int fd) : fd_(fd) { buffer_.reserve(write_block); }

    void write(const unsigned char* data, std::size_t size) override {
        // A track of some size is written from where it stands: copied into
        // the buffer first, it would cost a pass over its bytes as long as
        // the write itself.
        if (size >= write_block / 16) {
            flush();
            write_through(data, size);
            return;
        }
        if (buffer_.size() + size > write_block) flush();
        buffer_.insert(buffer_.end(), data, data + size);
    }
    void rewrite(std::size_t offset, const unsigned char* data, std::size_t size) override;
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

// Owns the temporary file beside the output until it is installed: removed
// on every other way out, an exception (out of memory) or a signal
// included.
class pending_file {
public:
    pending_file() = default;
    pending_file(const pending_file&) = delete;
    pending_file& operator=(const pending_file&) = delete;
    ~pending_file() { abandon(); }

    void hold(const std::string& name);
    // The file took its name: nothing is left to remove.
    void installed();
    void abandon();

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
std::string temp_directory();

// An unnamed file for output that cannot be renamed into place (standard
// output, a device, a FIFO): the bytes wait there until the listing has
// assembled without error.
int anonymous_temp();

// Copies the whole of `from` (from its start) to `to`; false with errno set.
bool copy_file(int from, int to);

bool same_file(int a, int b);

// Messages go to standard error: a MIDI file written there would have them
// mixed in. A device that is no terminal (/dev/null) mixes nothing.
bool shares_standard_error(int fd);

}  // namespace smfasm
