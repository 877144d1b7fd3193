// ArenaVector<T>: the children of a body or a list.
//
// A parse makes tens of thousands of bodies and lists, and a vector each,
// taken from malloc and freed one by one, cost more than the rest of their
// nodes. The parser knows how many children each holds once it has read
// them, so it takes their storage from its arena at exact size; an edit
// that grows the vector moves it to the heap. `Arena::release` frees either
// kind, so the owner need not know which it holds.
//
// Size and capacity are 32 bits: the source of 2^32 children would be
// larger than any file this library reads into memory whole.
#pragma once

#include "cst/arena.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>

namespace quarel {

template <class T> class ArenaVector {
  public:
    ArenaVector() noexcept = default;
    // Exactly the elements of `from`, moved out of it, in storage from the arena.
    ArenaVector(Arena& arena, std::span<T> from) {
        if (from.empty()) return;
        capacity_ = count(from.size());
        data_ = static_cast<T*>(arena.allocate(bytes(capacity_)));
        std::uninitialized_move(from.begin(), from.end(), data_);
        size_ = capacity_;
    }
    ArenaVector(const ArenaVector& other) {
        reserve(other.size_);
        try {
            for (const T& item : other) push_back(item);
        } catch (...) {
            destroy();
            throw;
        }
    }
    ArenaVector(ArenaVector&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ArenaVector& operator=(const ArenaVector& other) {
        if (this != &other) swap(ArenaVector(other));
        return *this;
    }
    ArenaVector& operator=(ArenaVector&& other) noexcept {
        ArenaVector moved(std::move(other));
        swap(std::move(moved));
        return *this;
    }
    ~ArenaVector() { destroy(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }
    std::reverse_iterator<const T*> rbegin() const noexcept {
        return std::reverse_iterator<const T*>(end());
    }
    std::reverse_iterator<const T*> rend() const noexcept {
        return std::reverse_iterator<const T*>(begin());
    }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T& front() noexcept { return data_[0]; }
    const T& front() const noexcept { return data_[0]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

    // Room for `n` elements in all, on the heap when it must grow.
    void reserve(std::size_t n) {
        if (n <= capacity_) return;
        std::uint32_t capacity = count(n);
        T* data = static_cast<T*>(Arena::heap_allocate(bytes(n)));
        std::uninitialized_move(begin(), end(), data);
        std::uint32_t size = size_;
        destroy();
        data_ = data;
        size_ = size;
        capacity_ = capacity;
    }
    void push_back(T item) {
        if (size_ == capacity_) reserve(std::max<std::size_t>(4, 2 * std::size_t(capacity_)));
        new (data_ + size_) T(std::move(item));
        ++size_;
    }
    // Copies of [first, last) before `at`; on failure the vector is as it was.
    template <class It> void insert(const T* at, It first, It last) {
        std::size_t index = static_cast<std::size_t>(at - data_);
        std::size_t old_size = size_;
        std::size_t n = static_cast<std::size_t>(std::distance(first, last));
        if (old_size + n > capacity_) reserve(std::max(old_size + n, 2 * std::size_t(capacity_)));
        try {
            for (; first != last; ++first) push_back(*first);
        } catch (...) {
            while (size_ > old_size) pop_back();
            throw;
        }
        std::rotate(data_ + index, data_ + old_size, end());
    }
    void erase(const T* at) {
        T* p = data_ + (at - data_);
        std::move(p + 1, end(), p);
        pop_back();
    }

  private:
    static_assert(alignof(T) <= 8);
    static std::size_t bytes(std::size_t n) { return n * sizeof(T); }
    static std::uint32_t count(std::size_t n) {
        if (n > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("too many children");
        return static_cast<std::uint32_t>(n);
    }

    void swap(ArenaVector&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    void pop_back() noexcept { data_[--size_].~T(); }
    void destroy() noexcept {
        if (!data_) return;
        std::destroy(begin(), end());
        Arena::release(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

    T* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

} // namespace quarel
