// Shared<T>: an atomically reference-counted handle to a T guarded by a
// reader/writer lock. Pairs and document bodies are held through it.
//
// The invariant: no Python code runs while a tree lock is held. The binding
// copies out what it needs under a lock, lets go, and only then makes Python
// objects or raises (either may run a collector finalizer, and the
// interpreter may switch threads inside Python code); it converts Python
// values before it takes a lock and checks, once it holds it, that the tree
// is still as the conversion found it. Every caller holds the interpreter
// lock, so no other call can then find a tree lock taken. The locks stay as
// the check of that invariant: they offer try-operations only, and a lock
// found taken fails the operation (a RuntimeError in Python, the tree
// unchanged) where the broken invariant would otherwise corrupt the tree.
#pragma once

#include "cst/arena.hpp"

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

namespace quarel {

// How many times any lock of any tree has been taken for writing. A tree
// changes only under a write lock, so while the count stays the same no
// tree has changed: what was worked out from one may be kept until then.
inline std::atomic<std::uint64_t> write_locks_taken{0};

// The lock word is changed by plain loads and stores, not read-modify-write
// instructions: the interpreter lock already orders every caller, and a
// locked instruction per pair visited was most of the cost of a lookup or a
// print.
class RwLock {
  public:
    bool try_lock_shared() noexcept {
        std::uint32_t w = word_.load(std::memory_order_relaxed);
        if (w & writer) return false;
        word_.store(w + 1, std::memory_order_relaxed);
        return true;
    }
    void unlock_shared() noexcept {
        word_.store(word_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    }
    bool try_lock() noexcept {
        if (word_.load(std::memory_order_relaxed) != 0) return false;
        word_.store(writer, std::memory_order_relaxed);
        write_locks_taken.store(write_locks_taken.load(std::memory_order_relaxed) + 1,
                                std::memory_order_relaxed);
        return true;
    }
    void unlock() noexcept { word_.store(0, std::memory_order_relaxed); }
    // Whether a writer holds the lock. A reader that runs nothing else while
    // it reads (the printer) checks this instead of taking the lock.
    bool writing() const noexcept { return word_.load(std::memory_order_relaxed) & writer; }

  private:
    static constexpr std::uint32_t writer = 0x80000000u;
    std::atomic<std::uint32_t> word_{0};
};

template <class T> class Shared {
    struct Node {
        template <class... A> explicit Node(A&&... args) : value(std::forward<A>(args)...) {}
        std::atomic<std::uint32_t> refs{1};
        RwLock lock;
        T value;
    };

  public:
    Shared() noexcept = default;
    template <class... A> static Shared make(A&&... args) {
        return Shared(
            construct_in<Node>(Arena::heap_allocate(sizeof(Node)), std::forward<A>(args)...));
    }
    template <class... A> static Shared make_in(Arena& arena, A&&... args) {
        return Shared(construct_in<Node>(arena.allocate(sizeof(Node)), std::forward<A>(args)...));
    }
    Shared(const Shared& other) noexcept : node_(other.node_) {
        if (node_) node_->refs.fetch_add(1, std::memory_order_relaxed);
    }
    Shared(Shared&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
    Shared& operator=(Shared other) noexcept {
        std::swap(node_, other.node_);
        return *this;
    }
    ~Shared() {
        if (!node_ || node_->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
        node_->~Node();
        Arena::release(node_);
    }

    explicit operator bool() const noexcept { return node_ != nullptr; }
    T& operator*() const noexcept { return node_->value; }
    T* operator->() const noexcept { return &node_->value; }
    RwLock& lock() const noexcept { return node_->lock; }
    bool same(const Shared& other) const noexcept { return node_ == other.node_; }

  private:
    explicit Shared(Node* n) noexcept : node_(n) {}
    Node* node_ = nullptr;
};

// Scoped try-locks: test with operator bool; unlock on destruction if taken.
class ReadGuard {
  public:
    explicit ReadGuard(RwLock& lock) noexcept : lock_(lock.try_lock_shared() ? &lock : nullptr) {}
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;
    ~ReadGuard() {
        if (lock_) lock_->unlock_shared();
    }
    explicit operator bool() const noexcept { return lock_ != nullptr; }

  private:
    RwLock* lock_;
};

class WriteGuard {
  public:
    explicit WriteGuard(RwLock& lock) noexcept : lock_(lock.try_lock() ? &lock : nullptr) {}
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;
    ~WriteGuard() {
        if (lock_) lock_->unlock();
    }
    explicit operator bool() const noexcept { return lock_ != nullptr; }

  private:
    RwLock* lock_;
};

} // namespace quarel
