// Copies of a few bytes, the common case for the texts of a tree.
//
// memcpy with a length known only at run time is a call; for up to 16
// bytes two overlapping loads and stores do the same inline, and read and
// write nothing outside the given ranges.
#pragma once

#include <cstddef>
#include <cstring>

namespace quarel {

namespace detail {
template <std::size_t N> inline void copy_word(char* to, const char* from) noexcept {
    char word[N];
    std::memcpy(word, from, N);
    std::memcpy(to, word, N);
}
} // namespace detail

// n <= 16
inline void copy_short(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 8) {
        detail::copy_word<8>(to, from);
        detail::copy_word<8>(to + n - 8, from + n - 8);
    } else if (n >= 4) {
        detail::copy_word<4>(to, from);
        detail::copy_word<4>(to + n - 4, from + n - 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

} // namespace quarel
