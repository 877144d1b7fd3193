#include "parser/utf8.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarel {

namespace {

// The length of the ASCII run at the start of [p, end), found a block at a
// time: sources are mostly ASCII, and a block test costs less than a byte
// test.
std::size_t ascii_run(const unsigned char* p, const unsigned char* end) noexcept {
    const unsigned char* start = p;
#if defined(__SSE2__)
    while (end - p >= 64) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))) break;
        p += 64;
    }
#endif
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if (word & 0x8080808080808080u) break;
        p += 8;
    }
    while (p < end && *p < 0x80) ++p;
    return static_cast<std::size_t>(p - start);
}

bool continuation(unsigned char c) noexcept {
    return (c & 0xC0) == 0x80;
}

// The length of the valid multi-byte sequence at p (*p >= 0x80), or 0.
std::size_t sequence_len(const unsigned char* p, const unsigned char* end) noexcept {
    std::ptrdiff_t left = end - p;
    unsigned char c = p[0];
    if (c >= 0xC2 && c <= 0xDF) return left >= 2 && continuation(p[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !continuation(p[1]) || !continuation(p[2])) return 0;
        if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
        if (c == 0xED && p[1] >= 0xA0) return 0; // a surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !continuation(p[1]) || !continuation(p[2]) || !continuation(p[3])) return 0;
        if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
        if (c == 0xF4 && p[1] >= 0x90) return 0; // past U+10FFFF
        return 4;
    }
    return 0;
}

} // namespace

std::size_t invalid_utf8_at(std::string_view text) noexcept {
    auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = begin + text.size();
    const unsigned char* p = begin;
    for (;;) {
        p += ascii_run(p, end);
        if (p == end) return text.size();
        std::size_t n = sequence_len(p, end);
        if (!n) return static_cast<std::size_t>(p - begin);
        p += n;
    }
}

} // namespace quarel
