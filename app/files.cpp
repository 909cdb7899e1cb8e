#include "app/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace smfasm {

namespace {

// Tries of one name before giving up: each failed try means another process
// put a new file there in between, so this is only reached when something
// keeps creating files at the name as fast as they are moved away.
constexpr int max_tries = 1000;

// What stands at a name, as far as the backup rules care.
enum class entry { none, movable, fixed, own_stream, unknown };

// A regular file, or a symbolic link to one or to nothing, is movable: it is
// data that writing at the name would destroy. A directory, device or FIFO
// (or a link to one) is fixed: it is never moved. `error` gets errno when the
// answer is unknown.
entry examine(const char* name, int& error) {
    if (own_stream(name) >= 0) return entry::own_stream;
    struct stat info {};
    if (lstat(name, &info) != 0) {
        error = errno;
        return error == ENOENT ? entry::none : entry::unknown;
    }
    if (S_ISLNK(info.st_mode) && stat(name, &info) != 0) {
        error = errno;
        return error == ENOENT ? entry::movable : entry::unknown;  // a dangling link
    }
    return S_ISREG(info.st_mode) ? entry::movable : entry::fixed;
}

// Gives `from` the name `to` unless something stands there (EEXIST). Where the
// file system refuses RENAME_NOREPLACE, a hard link followed by removing the
// old name does the same.
int rename_no_replace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (link(from, to) != 0) return -1;
    if (unlink(from) != 0) {
        const int error = errno;
        unlink(to);
        errno = error;
        return -1;
    }
    return 0;
}

void report_rename_failure(const std::string& name) {
    std::fprintf(stderr, "***Error: Output file %s exists and cannot be renamed.\n", name.c_str());
}

}  // namespace

int own_stream(const std::string& name) {
    struct stat named {};
    if (stat(name.c_str(), &named) != 0) return -1;
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat open {};
        if (fstat(fd, &open) == 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino) return fd;
    }
    return -1;
}

int prepare_process() {
    int closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed |= 1 << fd;
        // The lowest free descriptor: this one, as the lower ones are open.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return closed;
}

std::size_t last_dot(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr ? static_cast<std::size_t>(dot - name) : std::strlen(name);
}

std::string replace_last_dot_part(const std::string& name, std::string_view ending) {
    std::string replaced = name.substr(0, last_dot(name.c_str()));
    replaced.append(ending);
    return replaced;
}

std::string replace_extension(const std::string& name, std::string_view ending, const naming_rules& rules) {
    if (!rules.last_component) return replace_last_dot_part(name, ending);
    const std::size_t slash = name.rfind('/');
    const std::size_t component = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind('.');
    const bool has_extension = dot != std::string::npos && dot > component;
    std::string replaced = name.substr(0, has_extension ? dot : name.size());
    replaced.append(ending);
    return replaced;
}

std::string backup_name(const std::string& name, int dollars, std::string_view extension, const naming_rules& rules) {
    return replace_extension(name, std::string(static_cast<std::size_t>(dollars), '$').append(extension), rules);
}

bool move_aside(const std::string& name, std::string_view extension, const naming_rules& rules) {
    int error = 0;
    if (examine(name.c_str(), error) != entry::movable) return true;
    int dollars = 1;
    for (int tries = 0; tries < max_tries; ++tries) {
        const std::string backup = backup_name(name, dollars, extension, rules);
        if (rename_no_replace(name.c_str(), backup.c_str()) == 0) {
            std::fprintf(stderr, "Notice: Output file %s already %s.\n\tIt is renamed as %s\n", name.c_str(),
                         rules.spelled_right ? "exists" : "exits", backup.c_str());
            return true;
        }
        if (errno == EEXIST) {
            ++dollars;  // taken: the next name
        } else if (errno == ENOENT) {
            // Another run moved the file first; move what stands there now.
            if (examine(name.c_str(), error) != entry::movable) return true;
        } else {
            break;
        }
    }
    report_rename_failure(name);
    return false;
}

opened_output open_output(const std::string& name, std::string_view extension, const naming_rules& rules) {
    opened_output result;
    int error = EEXIST;
    for (int tries = 0; tries < max_tries; ++tries) {
        result.fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (result.fd >= 0) return result;
        error = errno;
        if (error != EEXIST) break;
        const entry found = examine(name.c_str(), error);
        if (found == entry::unknown) break;
        if (found == entry::own_stream) {
            // The program's own output, named as such (/dev/stdout, say):
            // written where it already goes, at its own position.
            result.fd = fcntl(own_stream(name), F_DUPFD_CLOEXEC, 3);
            if (result.fd >= 0) return result;
            error = errno;
            break;
        }
        if (found == entry::movable && !move_aside(name, extension, rules)) {
            result.backup_failed = true;
            return result;
        }
        if (found != entry::fixed) continue;  // moved aside, or gone meanwhile: create it again
        // A device or FIFO is written as it stands; a directory fails here
        // with EISDIR.
        result.fd = open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (result.fd < 0) {
            error = errno;
            break;
        }
        struct stat info {};
        if (fstat(result.fd, &info) == 0 && !S_ISREG(info.st_mode)) return result;
        // A regular file took the name since it was examined: start over.
        close(result.fd);
        result.fd = -1;
    }
    result.error = error;
    return result;
}

int create_temp_beside(const std::string& name, std::string& temp_name) {
    const std::size_t slash = name.rfind('/');
    temp_name = name.substr(0, slash == std::string::npos ? 0 : slash + 1);
    temp_name += ".smfasm-XXXXXX";
    const int fd = mkostemp(temp_name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    // mkstemp makes the file private (0600); the finished file gets the mode
    // any new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        const int error = errno;
        close(fd);
        unlink(temp_name.c_str());
        errno = error;
        return -1;
    }
    return fd;
}

bool install_file(const std::string& temp_name, const std::string& name, std::string_view extension,
                  bool& backup_failed, const naming_rules& rules) {
    backup_failed = false;
    for (int tries = 0; tries < max_tries; ++tries) {
        if (rename_no_replace(temp_name.c_str(), name.c_str()) == 0) return true;
        if (errno != EEXIST) return false;
        int error = 0;
        const entry found = examine(name.c_str(), error);
        if (found == entry::unknown) {
            errno = error;
            return false;
        }
        if (found == entry::fixed || found == entry::own_stream) {
            // Never installed in place of a directory, device or FIFO, nor
            // of the program's own output.
            struct stat info {};
            errno = stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
            return false;
        }
        if (found == entry::movable && !move_aside(name, extension, rules)) {
            backup_failed = true;
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

}  // namespace smfasm
