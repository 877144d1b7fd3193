#include "cst/text.hpp"

namespace quarel {

void Text::set_long_block(char* block, std::string_view s) noexcept {
    const std::size_t n = s.size();
    char* bytes = block;
    std::uint64_t tag = n;
    if (n > max_tagged_size) {
        std::memcpy(block, &tag, sizeof tag);
        bytes += sizeof tag;
        tag = 0;
    }
    std::memcpy(bytes, s.data(), n);
    word_ = reinterpret_cast<std::uintptr_t>(block) | tag << 56;
}

void Text::assign_in(Arena& arena, std::string_view s) {
    if (assign_inline(s)) return;
    set_block(static_cast<char*>(arena.allocate(block_size(s.size()))), s);
}

void Text::assign(std::string_view s) {
    if (assign_inline(s)) return;
    set_block(static_cast<char*>(Arena::heap_allocate(block_size(s.size()))), s);
}

} // namespace quarel
