// Output files that never destroy anything: backups, exclusive creation and
// installing a finished file, shared by both programs.
#pragma once

#include <string>
#include <string_view>

namespace smfasm {

// First thing in main: each of descriptors 0, 1 and 2 that is closed is
// opened on /dev/null, so that no file the program opens can take its place;
// SIGPIPE and SIGXFSZ are ignored, so that a failing write returns its error
// instead of killing the process without a word. Returns the descriptors
// that were closed, as bits (1 << fd).
int prepare_process();

// How a program names its output's backups and announces them. The lister
// keeps its documented rules: the last "." of the whole name, and its notice
// as it has always read. smfasm looks for the extension in the last path
// component only (v1.2/song gives v1.2/song.mid) and spells its notice
// right.
struct naming_rules {
    bool last_component = false;
    bool spelled_right = false;
};
inline constexpr naming_rules lister_rules{};
inline constexpr naming_rules assembler_rules{true, true};

// `name` with its extension (from the last "." on, as `rules` find it; none
// for a name whose last component has no "." past its first character)
// replaced by `ending`.
std::string replace_extension(const std::string& name, std::string_view ending, const naming_rules& rules);

// Position of the last "." in the whole name (directories included), or of
// its end when there is none.
std::size_t last_dot(const char* name);

// `name` with everything from its last "." replaced by `ending`: how both
// programs derive an output name from an input name, and backup names.
std::string replace_last_dot_part(const std::string& name, std::string_view ending);

// The name `name` backs up to when `dollars` "$" are used: everything from
// its last "." is replaced by the dollars and `extension` (".mtx", ".mid").
std::string backup_name(const std::string& name, int dollars, std::string_view extension,
                        const naming_rules& rules = lister_rules);

// The standard output or error descriptor that `name` names (the same
// file, as /dev/stdout or a shell's redirection target is), or -1. Such a
// name is the program's own stream: it is written as it stands, never moved
// aside or replaced.
int own_stream(const std::string& name);

// Moves the regular file (or dangling link) standing at `name`, readable or
// not, to the first free backup name, never replacing anything there; a
// race lost to another process moves on to the next name. Prints the notice
// "Notice: Output file %s already exits.\n\tIt is renamed as %s\n". Nothing,
// or a directory, device or FIFO, at `name` is left alone. Returns false
// after printing "***Error: Output file %s exists and cannot be renamed.\n".
// (smfasm's rules spell the notice "already exists".)
bool move_aside(const std::string& name, std::string_view extension, const naming_rules& rules = lister_rules);

// Opens `name` for writing without replacing a regular file: it is created
// exclusively, after moving aside whatever regular file stands there (again
// whenever one appears meanwhile); a device or FIFO is opened as it stands.
struct opened_output {
    int fd = -1;                 // the open descriptor, or -1
    int error = 0;               // errno of the failed open
    bool backup_failed = false;  // move_aside failed (and has said so)
};
opened_output open_output(const std::string& name, std::string_view extension,
                          const naming_rules& rules = lister_rules);

// A new file in the directory of `name` (for a file assembled in full before
// it takes the name), named ".smfasm-" and six random characters and created
// exclusively, with the mode a new file gets (0666 less the umask); its name
// goes to `temp_name`. Returns its descriptor, or -1 with errno set.
int create_temp_beside(const std::string& name, std::string& temp_name);

// Gives the finished file `temp_name` the name `name` without replacing
// anything: a regular file (or link) standing there is moved aside first
// (again whenever one appears meanwhile). Returns false with errno set
// (EISDIR or EEXIST for a directory, device or FIFO at `name`, which is never
// replaced), or after move_aside has reported its failure (`backup_failed`).
// On failure `temp_name` is left where it is, for the caller to remove.
bool install_file(const std::string& temp_name, const std::string& name, std::string_view extension,
                  bool& backup_failed, const naming_rules& rules = lister_rules);

}  // namespace smfasm
