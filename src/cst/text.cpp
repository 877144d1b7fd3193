#include "cst/text.hpp"

namespace quarel {

void Text::assign_in(Arena& arena, std::string_view s) {
    char* p = static_cast<char*>(arena.allocate(s.size()));
    std::memcpy(p, s.data(), s.size());
    set_heap(p, s.size());
}

void Text::assign(std::string_view s) {
    if (assign_inline(s)) return;
    char* p = static_cast<char*>(Arena::heap_allocate(s.size()));
    std::memcpy(p, s.data(), s.size());
    set_heap(p, s.size());
}

void Text::release_heap() noexcept {
    Arena::release(const_cast<char*>(heap_data()));
}

} // namespace quarel
