// A stream that writes into memory, growing as it is written: where the face
// collects a listing or messages that the conversions write through stdio.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace smfasm {

class memory_stream {
public:
    memory_stream() : stream_(open_memstream(&data_, &size_)) {}
    ~memory_stream() {
        if (stream_ != nullptr) std::fclose(stream_);
        std::free(data_);
    }
    memory_stream(const memory_stream&) = delete;
    memory_stream& operator=(const memory_stream&) = delete;

    // No stream when there was no memory for one.
    std::FILE* stream() const { return stream_; }
    // Closes the stream and returns what was written.
    std::string take() {
        if (stream_ != nullptr) std::fclose(stream_);
        stream_ = nullptr;
        return data_ != nullptr ? std::string(data_, size_) : std::string();
    }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_;
};

}  // namespace smfasm
