// A listing in an unnamed temporary file, its descriptor at the start: for
// tests that read the same text from a descriptor, in blocks, as from
// memory. The file goes when the object does, a failed assertion included.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string_view>

namespace smfasm::test {

class listing_file {
public:
    explicit listing_file(std::string_view text) : file_(std::tmpfile()) {
        if (file_ == nullptr) return;
        const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size() &&
                             std::fflush(file_) == 0 && lseek(fileno(file_), 0, SEEK_SET) == 0;
        if (!written) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    ~listing_file() {
        if (file_ != nullptr) std::fclose(file_);
    }
    listing_file(const listing_file&) = delete;
    listing_file& operator=(const listing_file&) = delete;

    // -1 when the file could not be made and filled.
    int fd() const { return file_ != nullptr ? fileno(file_) : -1; }

private:
    std::FILE* file_ = nullptr;
};

}  // namespace smfasm::test
