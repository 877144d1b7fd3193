#include "parser/lexer.hpp"

namespace quarel::lex {

namespace {

inline unsigned char byte(const char* p) {
    return static_cast<unsigned char>(*p);
}

bool is_ascii_space(unsigned char c) {
    return detail::classes[c] & detail::space;
}

} // namespace

std::size_t whitespace_len(const char* p, const char* end) noexcept {
    unsigned char c = byte(p);
    if (c < 0x80) return is_ascii_space(c) ? 1 : 0;
    std::ptrdiff_t left = end - p;
    if (c == 0xC2) return left >= 2 && (byte(p + 1) == 0x85 || byte(p + 1) == 0xA0) ? 2 : 0;
    if (left < 3 || c < 0xE1 || c > 0xE3) return 0;
    unsigned char c1 = byte(p + 1), c2 = byte(p + 2);
    if (c == 0xE1) return c1 == 0x9A && c2 == 0x80 ? 3 : 0;
    if (c == 0xE3) return c1 == 0x80 && c2 == 0x80 ? 3 : 0;
    if (c1 == 0x80)
        return (c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF ? 3 : 0;
    return c1 == 0x81 && c2 == 0x9F ? 3 : 0;
}

std::size_t whitespace_len_before(const char* begin, const char* p) noexcept {
    for (std::ptrdiff_t n = 1; n <= 3 && p - n >= begin; ++n)
        if (whitespace_len(p - n, p) == static_cast<std::size_t>(n)) return n;
    return 0;
}

// ASCII bytes are told apart by the table alone; only a byte of a
// multi-byte character needs the full test.
std::string_view trim_whitespace(std::string_view text) noexcept {
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e) {
        std::size_t n = byte(b) < 0x80 ? is_ascii_space(byte(b)) : whitespace_len(b, e);
        if (!n) break;
        b += n;
    }
    while (e > b) {
        std::size_t n =
            byte(e - 1) < 0x80 ? is_ascii_space(byte(e - 1)) : whitespace_len_before(b, e);
        if (!n) break;
        e -= n;
    }
    return {b, static_cast<std::size_t>(e - b)};
}

bool is_bare_token(std::string_view text) noexcept {
    const char* end = text.data() + text.size();
    return !text.empty() && skip_bare_token(text.data(), end) == end;
}

bool is_all_whitespace(std::string_view text) noexcept {
    return trim_whitespace(text).empty();
}

} // namespace quarel::lex
