#include "cst/arena.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace quarel {

namespace {

constexpr std::uint64_t credit_batch = 1 << 12;
// A parsed tree takes about six times its source: the first chunk of a small
// document takes that much, so that most take one chunk.
constexpr std::size_t tree_per_source_byte = 6;
constexpr std::size_t min_chunk = 4 << 10;
// Past this, chunks are huge pages mapped on their own: faulting in a large
// tree 4 KiB at a time took a fifth of a parse.
constexpr std::size_t huge_page = 2 << 20;
constexpr std::size_t max_malloc_chunk = huge_page / 2;

std::size_t round_up(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

// `size` bytes (a multiple of huge_page) starting on a huge page boundary.
void* map_chunk(std::size_t size) {
    void* p =
        mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    auto base = reinterpret_cast<std::uintptr_t>(p);
    std::uintptr_t start = round_up(base, huge_page);
    if (start > base) munmap(p, start - base);
    munmap(reinterpret_cast<void*>(start + size), base + huge_page - start);
    madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

} // namespace

// The chunks, linked through their first words, and the count of references:
// one per live allocation, the arena's own, and its unspent credits.
struct Arena::Memory {
    struct Chunk {
        Chunk* next;
        std::size_t mapped; // the size of a mapped chunk; 0 for one from malloc
    };
    std::atomic<std::uint64_t> refs{1};
    Chunk* chunks = nullptr;

    void free_all() noexcept {
        for (Chunk* c = chunks; c;) {
            Chunk* next = c->next;
            if (c->mapped)
                munmap(c, c->mapped);
            else
                std::free(c);
            c = next;
        }
        delete this;
    }
    void drop(std::uint64_t n) noexcept {
        if (refs.fetch_sub(n, std::memory_order_acq_rel) == n) free_all();
    }
};

Arena::Arena(std::size_t expected)
    : memory_(new Memory),
      chunk_size_(std::clamp(expected * tree_per_source_byte, min_chunk, huge_page)) {}

Arena::~Arena() {
    memory_->drop(credits_ + 1);
}

char* Arena::new_chunk(std::size_t size) {
    using Chunk = Memory::Chunk;
    void* chunk = nullptr;
    std::size_t mapped = 0;
    if (size > max_malloc_chunk) {
        mapped = round_up(size, huge_page);
        chunk = map_chunk(mapped);
    } else {
        chunk = std::malloc(size);
        if (!chunk) throw std::bad_alloc();
    }
    memory_->chunks = new (chunk) Chunk{memory_->chunks, mapped};
    return static_cast<char*>(chunk) + sizeof(Chunk);
}

void* Arena::allocate_slowly(std::size_t need) {
    char* at;
    if (need > max_malloc_chunk / 2) {
        // A text this long takes a chunk of its own; the current one goes on.
        at = new_chunk(need + sizeof(Memory::Chunk));
    } else {
        if (static_cast<std::size_t>(end_ - next_) < need) {
            std::size_t size = chunk_size_ > max_malloc_chunk
                                   ? huge_page
                                   : std::max(chunk_size_, need + sizeof(Memory::Chunk));
            next_ = new_chunk(size);
            end_ = next_ + size - sizeof(Memory::Chunk);
            chunk_size_ = std::min(2 * size, huge_page);
        }
        at = next_;
        next_ += need;
    }
    if (credits_ == 0) {
        memory_->refs.fetch_add(credit_batch, std::memory_order_relaxed);
        credits_ = credit_batch;
    }
    --credits_;
    *reinterpret_cast<Memory**>(at) = memory_;
    return at + header;
}

void* Arena::heap_allocate(std::size_t size) {
    char* at = static_cast<char*>(std::malloc(header + size));
    if (!at) throw std::bad_alloc();
    *reinterpret_cast<Memory**>(at) = nullptr;
    return at + header;
}

void Arena::release(void* allocation) noexcept {
    char* at = static_cast<char*>(allocation) - header;
    if (Memory* memory = *reinterpret_cast<Memory**>(at))
        memory->drop(1);
    else
        std::free(at);
}

} // namespace quarel
