// Listing text in: logical lines, with folded lines kept together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace smfasm {

// One logical line: a physical line, or several joined by folds. The text
// runs from `begin` to `end` without the final line end, which still stands
// at `end` ("\n" or "\r"), also after a last line that had none; a fold
// inside it stays as written (a backslash, the line end, then the
// continuation), so that an error can still name its physical line and
// column.
// A fold that does not continue: the line ends in a folding backslash, but
// the listing ends there, or the next line does not start with the tab of a
// continuation (and is read as a line of its own).
enum class broken_fold : std::uint8_t { none, at_end, no_tab };

struct listing_line {
    const char* begin = nullptr;
    const char* end = nullptr;
    std::int64_t number = 0;  // physical line number of its first line
    broken_fold fold = broken_fold::none;
};

// A line of blanks and tabs, or one whose first other character is "#": a
// comment, which the assembler skips and which never folds.
inline bool is_comment_or_blank(const char* begin, const char* end) {
    while (begin != end && (*begin == ' ' || *begin == '\t')) ++begin;
    return begin == end || *begin == '#';
}

// Bytes kept readable behind the input: a line end for a last line that had
// none, and room for word-sized loads that start at a line's end.
inline constexpr std::size_t line_slack = 16;

// Reads a listing from a descriptor in blocks, or from memory, without a
// UTF-8 byte order mark at its very start. Only the
// current logical line is held beyond one block, so memory stays bounded by
// the longest line.
class listing_reader {
public:
    explicit listing_reader(int fd);
    listing_reader(const char* data, std::size_t size);

    // The next logical line; false at the end of the listing or on a read
    // error (read_error() then gives its errno).
    bool next(listing_line& line) {
        // Most lines are plain, whole in the buffer, and end in neither a
        // fold nor a carriage return: those take a search and a few tests.
        char* start = data_ + pos_;
        auto* found = static_cast<char*>(std::memchr(start, '\n', size_ - pos_));
        if (found != nullptr && found != start && found[-1] != '\\' && found[-1] != '\r') {
            line = {start, found, ++line_number_, broken_fold::none};
            pos_ = static_cast<std::size_t>(found + 1 - data_);
            return true;
        }
        return next_slowly(line);
    }
    int read_error() const { return read_error_; }

    // The unread lines whose line ends are already read, for a caller that
    // takes plain lines itself: from unread() to whole_end(), which stands
    // just behind a line end, or at unread() when none is (also once a
    // last line without its end has been read).
    // Such a caller needs no search for each line's end, and every line it
    // takes ends in "\n" with line_slack readable bytes behind.
    const char* unread() const { return data_ + pos_; }
    const char* whole_end() const { return data_ + (whole_end_ > pos_ ? whole_end_ : pos_); }
    // The caller took `lines` plain lines, up to `to`, the start of the next.
    void taken(const char* to, std::int64_t lines) {
        pos_ = static_cast<std::size_t>(to - data_);
        line_number_ += lines;
    }
    // The number of physical lines read so far.
    std::int64_t lines_read() const { return line_number_; }

private:
    bool next_slowly(listing_line& line);
    // Reads more input behind what is unread; false at the end.
    bool fill();

    int fd_ = -1;
    std::vector<char> storage_;  // line_slack bytes more than ever read into it
    char* data_ = nullptr;
    std::size_t size_ = 0;       // bytes held in data_
    std::size_t pos_ = 0;        // start of the unread part
    std::size_t whole_end_ = 0;  // behind the last line end held, or 0
    bool at_end_ = false;
    bool mark_checked_ = false;  // a byte order mark has been looked for
    int read_error_ = 0;
    std::int64_t line_number_ = 0;
};

}  // namespace smfasm
