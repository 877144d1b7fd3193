// Character classes and recognisers of Quarel source.
//
// Recognisers take the position where they are applied and return the
// position after what they matched; they never copy. Input is UTF-8; any
// byte that is not part of a recognised whitespace sequence counts as a
// bare-token byte, so malformed input is read safely too.
//
// The recognisers the parser calls for every token are defined here, so
// that they are inlined into it: a parse makes some 300,000 calls per
// megabyte, and each call was as dear as the bytes it read.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarel::lex {

// Length of the Unicode White_Space character starting at p, or 0.
std::size_t whitespace_len(const char* p, const char* end) noexcept;
// Length of the Unicode White_Space character ending at p, or 0.
std::size_t whitespace_len_before(const char* begin, const char* p) noexcept;

namespace detail {

// What a byte can be, as flags, so that each loop tests one table entry per
// byte.
enum : std::uint8_t {
    bare = 1,   // an ASCII bare-token character
    trivia = 2, // space, tab, line feed, carriage return
    space = 4,  // ASCII Unicode whitespace: trivia, vertical tab, form feed
    high = 8,   // a byte of a multi-byte character
};

inline constexpr std::array<std::uint8_t, 256> classes = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 0x80; ++c) t[c] = bare;
    for (int c = 0x80; c < 0x100; ++c) t[c] = high;
    for (char c : std::string_view("\"#,:;[]{}")) t[static_cast<unsigned char>(c)] = 0;
    for (int c = '\t'; c <= '\r'; ++c) t[c] = space;
    for (char c : std::string_view(" \t\n\r")) t[static_cast<unsigned char>(c)] = space | trivia;
    return t;
}();

inline std::uint8_t class_of(const char* p) noexcept {
    return classes[static_cast<unsigned char>(*p)];
}

// Runs are scanned 16 bytes a step while 16 remain: `stops(p)` has a bit
// set for each of p[0..15] that ends the run. The rest, and machines
// without SSE2, go a byte at a time with `keeps`.
template <class Stops, class Keeps>
const char* scan(const char* p, const char* end, [[maybe_unused]] Stops stops,
                 Keeps keeps) noexcept {
#if defined(__SSE2__)
    for (; end - p >= 16; p += 16)
        if (unsigned found = stops(p)) return p + std::countr_zero(found);
#endif
    while (p < end && keeps(*p)) ++p;
    return p;
}

#if defined(__SSE2__)
inline __m128i load16(const char* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i bytes_of(char c) noexcept {
    return _mm_set1_epi8(c);
}
inline unsigned mask_of(__m128i m) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(m));
}
inline __m128i either(__m128i a, __m128i b) noexcept {
    return _mm_or_si128(a, b);
}

inline unsigned not_trivia(const char* p) noexcept {
    __m128i x = load16(p);
    __m128i t =
        either(either(_mm_cmpeq_epi8(x, bytes_of(' ')), _mm_cmpeq_epi8(x, bytes_of('\n'))),
               either(_mm_cmpeq_epi8(x, bytes_of('\t')), _mm_cmpeq_epi8(x, bytes_of('\r'))));
    return mask_of(t) ^ 0xFFFF;
}

// Bytes that are not ASCII bare-token bytes: the punctuation, the ASCII
// whitespace, and every byte of a multi-byte character (which the caller
// then looks at whole).
inline unsigned not_bare(const char* p) noexcept {
    __m128i x = load16(p);
    __m128i off = _mm_sub_epi8(x, bytes_of('\t')); // \t..\r become 0..4
    __m128i ascii_space = _mm_cmpeq_epi8(_mm_min_epu8(off, bytes_of(4)), off);
    __m128i odd = _mm_or_si128(x, bytes_of(1));      // " #  and  : ;
    __m128i lower = _mm_or_si128(x, bytes_of(0x20)); // [ {  and  ] }
    __m128i punct =
        either(either(_mm_cmpeq_epi8(odd, bytes_of('#')), _mm_cmpeq_epi8(odd, bytes_of(';'))),
               either(_mm_cmpeq_epi8(lower, bytes_of('{')), _mm_cmpeq_epi8(lower, bytes_of('}'))));
    __m128i other = either(_mm_cmpeq_epi8(x, bytes_of(' ')), _mm_cmpeq_epi8(x, bytes_of(',')));
    return mask_of(either(either(ascii_space, punct), other)) | mask_of(x);
}

inline unsigned line_end(const char* p) noexcept {
    __m128i x = load16(p);
    return mask_of(either(_mm_cmpeq_epi8(x, bytes_of('\n')), _mm_cmpeq_epi8(x, bytes_of('\r'))));
}

inline unsigned quote_or_escape(const char* p) noexcept {
    __m128i x = load16(p);
    return mask_of(either(_mm_cmpeq_epi8(x, bytes_of('"')), _mm_cmpeq_epi8(x, bytes_of('\\'))));
}
#else
inline unsigned not_trivia(const char*) noexcept {
    return 0;
}
inline unsigned not_bare(const char*) noexcept {
    return 0;
}
inline unsigned line_end(const char*) noexcept {
    return 0;
}
inline unsigned quote_or_escape(const char*) noexcept {
    return 0;
}
#endif

} // namespace detail

inline bool is_inline_space(char c) noexcept {
    return c == ' ' || c == '\t';
}
inline bool is_trivia_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the character at p (p < end) may stand in a bare token.
inline bool is_bare_char(const char* p, const char* end) noexcept {
    std::uint8_t c = detail::class_of(p);
    return (c & detail::bare) || ((c & detail::high) && whitespace_len(p, end) == 0);
}

// The length of the line break at p (p < end): 1 for LF, 2 for CR LF, else 0.
inline std::size_t line_break_len(const char* p, const char* end) noexcept {
    if (*p == '\n') return 1;
    return *p == '\r' && end - p >= 2 && p[1] == '\n' ? 2 : 0;
}

// Where the line break whose line feed stands at `lf` begins: at the carriage
// return right before it (CR LF), else at the line feed itself.
inline std::size_t break_start(std::string_view text, std::size_t lf) noexcept {
    return lf > 0 && text[lf - 1] == '\r' ? lf - 1 : lf;
}

// A comment starting at the `#` at p: up to the first line feed or carriage
// return, or the end of the text.
inline const char* skip_comment(const char* p, const char* end) noexcept {
    using namespace detail;
    return scan(p + 1, end, line_end, [](char c) { return c != '\n' && c != '\r'; });
}

// Whitespace runs and comments; always matches, possibly nothing.
inline const char* skip_trivia(const char* p, const char* end) noexcept {
    using namespace detail;
    for (;;) {
        p = scan(p, end, not_trivia, [](char c) { return class_of(&c) & trivia; });
        if (p == end || *p != '#') return p;
        const char* q = skip_comment(p, end);
        // A comment may end at CR only when CR LF follows.
        if (q < end && *q == '\r' && !line_break_len(q, end)) return p;
        p = q;
    }
}

// The longest run of bare-token characters (p itself when there is none).
inline const char* skip_bare_token(const char* p, const char* end) noexcept {
    using namespace detail;
    for (;;) {
        p = scan(p, end, not_bare, [](char c) { return class_of(&c) & bare; });
        if (p == end || !(class_of(p) & high) || whitespace_len(p, end)) return p;
        ++p;
    }
}

inline const char* skip_inline_space(const char* p, const char* end) noexcept {
    while (p < end && is_inline_space(*p)) ++p;
    return p;
}

// A double-quoted string starting at the quote at p: the position after the
// closing quote, or nullptr when the string is unterminated.
inline const char* skip_quoted(const char* p, const char* end) noexcept {
    using namespace detail;
    for (const char* q = p + 1;;) {
        q = scan(q, end, quote_or_escape, [](char c) { return c != '"' && c != '\\'; });
        if (q == end) return nullptr;
        if (*q == '"') return q + 1;
        if (end - q < 2) return nullptr;
        q += 2;
    }
}

// Text with Unicode whitespace removed from both ends.
std::string_view trim_whitespace(std::string_view text) noexcept;
// Whether the text is non-empty and holds only bare-token characters.
bool is_bare_token(std::string_view text) noexcept;
// Whether the text holds only Unicode whitespace (true for empty text).
bool is_all_whitespace(std::string_view text) noexcept;
// Keys whose value is an expression ended by `;;`. (Asked of every key of a
// parse, so defined here to be inlined into the parser.)
inline bool is_expr_key(std::string_view key) noexcept {
    if (key.ends_with("_sql")) return true;
    switch (key.empty() ? '\0' : key.front()) {
    case 's': return key == "sql" || key.starts_with("sql_");
    case 'h': return key == "html";
    case 'e': return key == "expression" || key == "expression_custom_filter";
    default: return false;
    }
}

} // namespace quarel::lex
