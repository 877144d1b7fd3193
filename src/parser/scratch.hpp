// Scratch<T>: where the parser gathers the children of one body or list
// until it knows how many there are.
//
// A std::vector would do, but it destroys what it holds when cleared, and
// the children are moved out of it into the arena first: the destructors of
// the emptied husks, one visit of a variant each for list items, cost as
// much as the move. A moved-from child owns nothing (texts are left empty,
// handles and boxes null), so `take` lets them go without destruction.
#pragma once

#include "cst/arena.hpp"
#include "cst/arena_vector.hpp"

#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <utility>

namespace quarel {

template <class T> class Scratch {
  public:
    Scratch() noexcept = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        clear();
        std::allocator<T>().deallocate(data_, capacity_);
    }

    // The new child stays where it is until the next `emplace_back`.
    template <class... A> T& emplace_back(A&&... args) {
        if (size_ == capacity_) grow();
        T* made = new (data_ + size_) T(std::forward<A>(args)...);
        ++size_;
        return *made;
    }
    // Destroys what a failed parse left behind.
    void clear() noexcept {
        std::destroy_n(data_, size_);
        size_ = 0;
    }
    // The children, moved into storage of their number from the arena.
    ArenaVector<T> take(Arena& arena) {
        ArenaVector<T> taken(arena, std::span<T>(data_, size_));
        size_ = 0;
        return taken;
    }

  private:
    void grow() {
        const std::size_t capacity = capacity_ ? 2 * capacity_ : 16;
        T* data = std::allocator<T>().allocate(capacity);
        std::uninitialized_move_n(data_, size_, data);
        std::destroy_n(data_, size_);
        std::allocator<T>().deallocate(data_, capacity_);
        data_ = data;
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace quarel
