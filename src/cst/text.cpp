#include "cst/text.hpp"

#include <cstdlib>
#include <new>

namespace quarel {

void Text::assign(std::string_view s) {
    if (s.size() <= inline_capacity) {
        std::memcpy(raw_, s.data(), s.size());
        set_inline_size(s.size());
        return;
    }
    char* p = static_cast<char*>(std::malloc(s.size()));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.data(), s.size());
    std::uint64_t n = s.size();
    std::memcpy(raw_, &p, sizeof p);
    std::memcpy(raw_ + 8, &n, sizeof n);
}

void Text::release() noexcept {
    if (!is_inline()) std::free(const_cast<char*>(heap_data()));
}

} // namespace quarel
