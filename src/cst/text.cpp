#include "cst/text.hpp"

#include <cstdlib>
#include <new>

namespace quarel {

void Text::assign_in(Arena& arena, std::string_view s) {
    char* p = static_cast<char*>(arena.allocate(s.size()));
    std::memcpy(p, s.data(), s.size());
    set_heap(p, s.size() | arena_flag);
}

void Text::assign(std::string_view s) {
    if (assign_inline(s)) return;
    char* p = static_cast<char*>(std::malloc(s.size()));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.data(), s.size());
    set_heap(p, s.size());
}

void Text::release_heap() noexcept {
    char* p = const_cast<char*>(heap_data());
    if (heap_word() & arena_flag)
        Arena::release(p);
    else
        std::free(p);
}

} // namespace quarel
