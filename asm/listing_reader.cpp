#include "asm/listing_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace smfasm {

namespace {

constexpr std::size_t block_size = std::size_t{256} * 1024;

// Editors on some systems put a UTF-8 byte order mark before the first line.
constexpr char byte_order_mark[] = "\xEF\xBB\xBF";
constexpr std::size_t byte_order_mark_size = sizeof byte_order_mark - 1;

// True when the `size` bytes at `data` could be the start of a byte order
// mark (all of it when `size` is its length or more).
bool starts_like_mark(const char* data, std::size_t size) {
    const std::size_t n = size < byte_order_mark_size ? size : byte_order_mark_size;
    return std::memcmp(data, byte_order_mark, n) == 0;
}

// A physical line continues on the next when it ends in a backslash that is
// not itself escaped: an odd run of backslashes. Inside quoted text "\\\\"
// is an escaped backslash, and elsewhere a backslash only ever folds.
bool continues(const char* begin, const char* end) {
    if (end > begin && end[-1] == '\r') --end;
    std::size_t run = 0;
    while (end > begin && end[-1] == '\\') {
        --end;
        ++run;
    }
    return run % 2 == 1;
}

// Behind the last line end in [from, to), or 0 when there is none. Lines
// are short: the search from the end stops soon.
std::size_t behind_last_line_end(const char* data, std::size_t from, std::size_t to) {
    while (to > from) {
        if (data[--to] == '\n') return to + 1;
    }
    return 0;
}

}  // namespace

listing_reader::listing_reader(int fd) : fd_(fd), storage_(block_size + line_slack) { data_ = storage_.data(); }

listing_reader::listing_reader(const char* data, std::size_t size)
    : storage_(data, data + size), size_(size), at_end_(true) {
    storage_.resize(size + line_slack);  // the room behind the input
    data_ = storage_.data();
    if (size >= byte_order_mark_size && starts_like_mark(data_, size)) pos_ = byte_order_mark_size;
    mark_checked_ = true;
    whole_end_ = behind_last_line_end(data_, pos_, size_);
}

bool listing_reader::fill() {
    if (at_end_) return false;
    if (pos_ > 0) {
        std::memmove(storage_.data(), storage_.data() + pos_, size_ - pos_);
        size_ -= pos_;
        whole_end_ = whole_end_ > pos_ ? whole_end_ - pos_ : 0;
        pos_ = 0;
    }
    if (size_ + line_slack == storage_.size()) storage_.resize(2 * storage_.size() - line_slack);
    data_ = storage_.data();
    for (;;) {
        const ssize_t got = ::read(fd_, data_ + size_, storage_.size() - line_slack - size_);
        if (got > 0) {
            const std::size_t found = behind_last_line_end(data_, size_, size_ + static_cast<std::size_t>(got));
            if (found != 0) whole_end_ = found;
            size_ += static_cast<std::size_t>(got);
            if (!mark_checked_) {
                // A mark cut by a short read (a pipe) is waited for whole.
                if (size_ < byte_order_mark_size && starts_like_mark(data_, size_)) continue;
                mark_checked_ = true;
                if (size_ >= byte_order_mark_size && starts_like_mark(data_, size_)) pos_ = byte_order_mark_size;
            }
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) read_error_ = errno;
        at_end_ = true;
        return false;
    }
}

bool listing_reader::next_slowly(listing_line& line) {
    std::size_t scan = pos_;  // where to look for the next line end
    std::int64_t physical = 0;
    for (;;) {
        auto* found = static_cast<char*>(std::memchr(data_ + scan, '\n', size_ - scan));
        if (found == nullptr) {
            const std::size_t offset = scan - pos_;
            const bool more = fill();
            scan = pos_ + offset;  // fill() may have moved the unread part
            if (more) continue;
            if (read_error_ != 0 || scan == size_) return false;
            // The last line has no line end: the byte of room behind the
            // input takes one, so that every line is followed by its end.
            data_[size_] = '\n';
            found = data_ + size_++;
        }
        std::size_t next = static_cast<std::size_t>(found - data_) + 1;  // the next physical line
        ++physical;
        broken_fold fold = broken_fold::none;
        if (!(physical == 1 && is_comment_or_blank(data_ + scan, found)) && continues(data_ + scan, found)) {
            // A continuation starts with a tab: its first byte decides.
            if (next == size_) {
                const std::size_t offset = next - pos_;
                fill();
                if (read_error_ != 0) return false;
                next = pos_ + offset;
            }
            if (next < size_ && data_[next] == '\t') {
                scan = next;
                continue;
            }
            fold = next < size_ ? broken_fold::no_tab : broken_fold::at_end;
        }
        const char* end = data_ + next - 1;
        if (end > data_ + pos_ && end[-1] == '\r') --end;
        line = {data_ + pos_, end, line_number_ + 1, fold};
        line_number_ += physical;
        pos_ = next;
        return true;
    }
}

}  // namespace smfasm
