#include "app/asm_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace smfasm {

namespace {

// The temporary file beside the output, removed should a signal end the
// run before it is installed: a stopped run leaves nothing behind.
char pending_temp[4096];

extern "C" void remove_pending_temp(int signal_number) {
    if (pending_temp[0] != '\0') ::unlink(pending_temp);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Sets the signals that stop a run to `handler`, each unless it was ignored
// when the run began: a run under nohup goes on past a hangup.
void catch_stopping_signals(void (*handler)(int)) {
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction now {};
        if (::sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) std::signal(s, handler);
    }
}

}  // namespace

void descriptor_sink::rewrite(std::size_t offset, const unsigned char* data, std::size_t size) {
    flush();
    if (error_ == 0 && ::pwrite(fd_, data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) {
        error_ = errno != 0 ? errno : EIO;
    }
}

void pending_file::hold(const std::string& name) {
    name_ = name;
    if (name.size() >= sizeof pending_temp) return;
    std::memcpy(pending_temp, name.c_str(), name.size() + 1);
    catch_stopping_signals(remove_pending_temp);
}

void pending_file::installed() {
    catch_stopping_signals(SIG_DFL);
    pending_temp[0] = '\0';
    name_.clear();
}

void pending_file::abandon() {
    if (!name_.empty()) ::unlink(name_.c_str());
    installed();
}

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

std::string temp_directory() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

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

bool shares_standard_error(int fd) {
    struct stat info {};
    if (!same_file(fd, STDERR_FILENO) || ::fstat(fd, &info) != 0) return false;
    return !S_ISCHR(info.st_mode) || ::isatty(fd) != 0;
}

}  // namespace smfasm
