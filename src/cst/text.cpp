#include "cst/text.hpp"

namespace quarel {

void Text::assign(std::string_view s) {
    if (assign_inline(s)) return;
    char* p = static_cast<char*>(Arena::heap_allocate(s.size() + 1));
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    set_heap(p, s.size());
}

void Text::release_heap() noexcept {
    char* p = const_cast<char*>(heap_data());
    std::uint64_t word = heap_word();
    if (word & span_flag)
        Arena::release_source(p, static_cast<unsigned>(word >> shift_at & 63));
    else
        Arena::release(p);
}

} // namespace quarel
