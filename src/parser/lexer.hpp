// Character classes and recognisers of Quarel source.
//
// Recognisers take the position where they are applied and return the
// position after what they matched; they never copy. Input is UTF-8; any
// byte that is not part of a recognised whitespace sequence counts as a
// bare-token byte, so malformed input is read safely too.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarel::lex {

// Length of the Unicode White_Space character starting at p, or 0.
std::size_t whitespace_len(const char* p, const char* end) noexcept;
// Length of the Unicode White_Space character ending at p, or 0.
std::size_t whitespace_len_before(const char* begin, const char* p) noexcept;
// Whether the character at p (p < end) may stand in a bare token.
bool is_bare_char(const char* p, const char* end) noexcept;

inline bool is_inline_space(char c) noexcept {
    return c == ' ' || c == '\t';
}
inline bool is_trivia_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whitespace runs and comments; always matches, possibly nothing.
const char* skip_trivia(const char* p, const char* end) noexcept;
// The longest run of bare-token characters (p itself when there is none).
const char* skip_bare_token(const char* p, const char* end) noexcept;
const char* skip_inline_space(const char* p, const char* end) noexcept;
// A double-quoted string starting at the quote at p: the position after the
// closing quote, or nullptr when the string is unterminated.
const char* skip_quoted(const char* p, const char* end) noexcept;

// Text with Unicode whitespace removed from both ends.
std::string_view trim_whitespace(std::string_view text) noexcept;
// Whether the text is non-empty and holds only bare-token characters.
bool is_bare_token(std::string_view text) noexcept;
// Whether the text holds only Unicode whitespace (true for empty text).
bool is_all_whitespace(std::string_view text) noexcept;
// Keys whose value is an expression ended by `;;`.
bool is_expr_key(std::string_view key) noexcept;

} // namespace quarel::lex
