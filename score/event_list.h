// A track's events in one block, as a vector holds them, with one thing a
// vector cannot do: a loop that adds many events writes them in place
// through a plain pointer and counts them once at its end (room, then
// added). Through push_back the vector's end would be stored and reloaded
// per event, since a record's byte stores may alias anything.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

#include "score/track_event.h"

namespace smfasm::score {

class event_list {
public:
    static_assert(std::is_trivially_copyable_v<track_event> && std::is_aggregate_v<track_event>,
                  "records are copied as bytes and live in raw storage");

    event_list() = default;
    event_list(const event_list& other) { *this = other; }
    event_list(event_list&& other) noexcept { swap(other); }
    event_list& operator=(const event_list& other) {
        if (this != &other) {
            size_ = 0;
            reserve(other.size_);
            if (other.size_ != 0)
                std::memcpy(static_cast<void*>(data_), other.data_, other.size_ * sizeof(track_event));
            size_ = other.size_;
        }
        return *this;
    }
    event_list& operator=(event_list&& other) noexcept {
        event_list moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~event_list() { release(); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    track_event* data() { return data_; }
    const track_event* data() const { return data_; }
    track_event* begin() { return data_; }
    track_event* end() { return data_ + size_; }
    const track_event* begin() const { return data_; }
    const track_event* end() const { return data_ + size_; }
    track_event& operator[](std::size_t i) { return data_[i]; }
    const track_event& operator[](std::size_t i) const { return data_[i]; }
    track_event& back() { return data_[size_ - 1]; }
    const track_event& back() const { return data_[size_ - 1]; }

    void clear() { size_ = 0; }
    void reserve(std::size_t count) {
        if (count > capacity_) grow_to(count);
    }
    void push_back(const track_event& e) { *room(1) = e, ++size_; }
    // A new event with the record's defaults.
    track_event& emplace_back() {
        track_event* e = room(1);
        *e = track_event{};
        ++size_;
        return *e;
    }

    // Where the next `count` events go: written there, they are counted
    // with added().
    track_event* room(std::size_t count) {
        if (capacity_ - size_ < count) grow_to(std::max(size_ + count, 2 * capacity_));
        return data_ + size_;
    }
    void added(std::size_t count) { size_ += count; }

private:
    track_event* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;

    void swap(event_list& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    void release() {
        if (data_ != nullptr) std::allocator<track_event>().deallocate(data_, capacity_);
    }
    void grow_to(std::size_t count) {
        track_event* more = std::allocator<track_event>().allocate(count);
        if (size_ != 0) std::memcpy(static_cast<void*>(more), data_, size_ * sizeof(track_event));
        release();
        data_ = more;
        capacity_ = count;
    }
};

}  // namespace smfasm::score
