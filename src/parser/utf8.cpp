#include "parser/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace quarel {

namespace {

constexpr std::uint64_t high_bits = 0x8080808080808080;

inline bool is_continuation(unsigned char c) noexcept {
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed sequence at p (whose first byte is not
// ASCII), or 0. The second byte's range depends on the first, which is what
// rules out overlong forms, surrogates and code points past U+10FFFF.
std::size_t sequence_length(const unsigned char* p, const unsigned char* end) noexcept {
    const unsigned char c = p[0];
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!is_continuation(p[i])) return 0;
    return length;
}

} // namespace

bool is_valid_utf8(std::string_view bytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = p + bytes.size();
    while (p < end) {
        // Configuration text is mostly ASCII: take it eight bytes at a time.
        std::uint64_t word;
        while (end - p >= 8 && (std::memcpy(&word, p, 8), (word & high_bits) == 0)) p += 8;
        while (p < end && *p < 0x80) ++p;
        if (p == end) return true;
        std::size_t length = sequence_length(p, end);
        if (length == 0) return false;
        p += length;
    }
    return true;
}

} // namespace quarel
