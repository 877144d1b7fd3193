#include "parser/lexer.hpp"

#include <array>
#include <cstdint>

namespace quarel::lex {

namespace {

// What a byte can be, as flags, so that each loop below tests one table
// entry per byte.
enum : std::uint8_t {
    bare = 1,   // an ASCII bare-token character
    trivia = 2, // space, tab, line feed, carriage return
    space = 4,  // ASCII Unicode whitespace: trivia, vertical tab, form feed
    high = 8,   // a byte of a multi-byte character
};

constexpr std::array<std::uint8_t, 256> classes = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 0x80; ++c) t[c] = bare;
    for (int c = 0x80; c < 0x100; ++c) t[c] = high;
    for (char c : std::string_view("\"#,:;[]{}")) t[static_cast<unsigned char>(c)] = 0;
    for (int c = '\t'; c <= '\r'; ++c) t[c] = space;
    for (char c : std::string_view(" \t\n\r")) t[static_cast<unsigned char>(c)] = space | trivia;
    return t;
}();

inline unsigned char byte(const char* p) {
    return static_cast<unsigned char>(*p);
}

} // namespace

std::size_t whitespace_len(const char* p, const char* end) noexcept {
    unsigned char c = byte(p);
    if (c < 0x80) return classes[c] & space ? 1 : 0;
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

bool is_bare_char(const char* p, const char* end) noexcept {
    std::uint8_t c = classes[byte(p)];
    return (c & bare) || ((c & high) && whitespace_len(p, end) == 0);
}

const char* skip_trivia(const char* p, const char* end) noexcept {
    for (;;) {
        while (p < end && (classes[byte(p)] & trivia)) ++p;
        if (p == end || *p != '#') return p;
        const char* q = p + 1;
        while (q < end && *q != '\n' && *q != '\r') ++q;
        // A comment may end at CR only when CR LF follows.
        if (q < end && *q == '\r' && (q + 1 == end || q[1] != '\n')) return p;
        p = q;
    }
}

const char* skip_bare_token(const char* p, const char* end) noexcept {
    for (;;) {
        while (p < end && (classes[byte(p)] & bare)) ++p;
        if (p == end || !(classes[byte(p)] & high) || whitespace_len(p, end)) return p;
        ++p;
    }
}

const char* skip_inline_space(const char* p, const char* end) noexcept {
    while (p < end && is_inline_space(*p)) ++p;
    return p;
}

const char* skip_quoted(const char* p, const char* end) noexcept {
    for (const char* q = p + 1; q < end;) {
        if (*q == '"') return q + 1;
        if (*q == '\\') {
            if (end - q < 2) return nullptr;
            q += 2;
        } else {
            ++q;
        }
    }
    return nullptr;
}

std::string_view trim_whitespace(std::string_view text) noexcept {
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e) {
        std::size_t n = whitespace_len(b, e);
        if (!n) break;
        b += n;
    }
    while (e > b) {
        std::size_t n = whitespace_len_before(b, e);
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

bool is_expr_key(std::string_view key) noexcept {
    if (key.ends_with("_sql")) return true;
    switch (key.empty() ? '\0' : key.front()) {
    case 's': return key == "sql" || key.starts_with("sql_");
    case 'h': return key == "html";
    case 'e': return key == "expression" || key == "expression_custom_filter";
    default: return false;
    }
}

} // namespace quarel::lex
