// Arena: where the parser takes the memory of the trees it builds.
//
// A parse makes hundreds of thousands of small objects (pair nodes, blocks,
// lists, long texts). Taken from malloc one by one, and given back one by
// one when the document goes, they cost more than reading the source. An
// arena hands them out from large chunks instead.
//
// Each allocation holds one reference to the memory it came from, and the
// chunks are freed when the last reference goes. So an object stays valid
// wherever it is moved and however long it lives (a pair kept by Python
// after its document is gone), and whoever frees it need not know its
// arena: `Arena::release` finds it in a header in front of the allocation.
// The price is that memory given back by one object is not reused: the
// chunks live as long as anything made in them.
//
// Objects made outside a parse take their memory from the heap through
// `Arena::heap_allocate`, with the same header holding no arena. So the
// header alone tells the two apart, and `Arena::release` frees either.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace quarel {

class Arena {
  public:
    // `expected` is the size of the source: it sizes the first chunk, so a
    // small document takes one small chunk.
    explicit Arena(std::size_t expected);
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();

    // Memory for one object, aligned to 8 bytes, holding one reference.
    // Inline, as a parse takes some 60,000 per megabyte: most come from the
    // current chunk, with a reference already taken.
    void* allocate(std::size_t size) {
        std::size_t need = header + ((size + 7) & ~std::size_t(7));
        if (need > static_cast<std::size_t>(end_ - next_) || credits_ == 0)
            return allocate_slowly(need);
        char* at = next_;
        next_ += need;
        --credits_;
        *reinterpret_cast<Memory**>(at) = memory_;
        return at + header;
    }
    // Memory for one object from the heap, aligned to 8 bytes.
    static void* heap_allocate(std::size_t size);
    // Gives back an allocation's reference, or frees a heap allocation.
    static void release(void* allocation) noexcept;

  private:
    struct Memory;
    // The Memory pointer in front of each allocation; null for a heap allocation.
    static constexpr std::size_t header = 8;

    // `allocate` when the chunk is full or the references are spent.
    void* allocate_slowly(std::size_t need);
    // A new chunk of `size` bytes, linked into memory_; returns where its
    // usable part starts.
    char* new_chunk(std::size_t size);

    Memory* memory_;
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::size_t chunk_size_;
    // References taken from memory_ in advance, one handed to each
    // allocation, so that an allocation costs no atomic operation.
    std::uint64_t credits_ = 0;
};

// Makes a T in memory from `allocate` or `heap_allocate`, which is given back
// if the constructor throws.
template <class T, class... A> T* construct_in(void* memory, A&&... args) {
    static_assert(alignof(T) <= 8);
    try {
        return new (memory) T(std::forward<A>(args)...);
    } catch (...) {
        Arena::release(memory);
        throw;
    }
}

} // namespace quarel
