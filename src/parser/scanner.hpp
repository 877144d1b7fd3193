// Regions of Quarel source: every byte of any text, parsing or not, in one
// region, with the kind the parser would read it as. Whatever needs to know
// where strings, expressions and comments lie asks here rather than reading
// quotes and `;;` again.
//
// Defined here, as the lexer's recognisers are, so that it is inlined into
// the loop that reads the regions: a call per region made the outdent of a
// printed pair a fifth slower.
#pragma once

#include "parser/lexer.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quarel::lex {

enum class RegionKind : std::uint8_t {
    string,      // from its opening quote through its closing one
    expression,  // all between the colon of an expression key and its `;;`
    comment,     // from `#` up to the line break
    whitespace,  // Unicode whitespace other than line breaks
    line_break,  // LF, or CR LF
    punctuation, // one delimiter, or `;;`
    bare_token,  // keys, literals, block names
};

// Byte offsets into the scanned text, `end` past the last byte.
struct Region {
    RegionKind kind;
    std::size_t begin;
    std::size_t end;

    bool operator==(const Region&) const = default;
};

// Cuts text into regions, in order, each byte into exactly one. Only an
// expression may be empty (`sql:;;`, or `sql:` at the end of the text). An
// expression follows `key:` for an expression key outside lists; it holds
// the whitespace around its text, and its `;;` is punctuation (so is a `;;`
// anywhere else outside strings, comments and expressions). In text that
// does not parse, a string or an expression that is never closed runs to
// the end, and a `#` starts a comment even where the parser refuses it.
class Scanner {
  public:
    explicit Scanner(std::string_view text) noexcept
        : begin_(text.data()), p_(begin_), end_(begin_ + text.size()) {}

    // The region at the current position, which the scanner then moves
    // past; nullopt once the text is used up.
    std::optional<Region> next() noexcept;

  private:
    // Spaces and tabs, the common case, are taken a run at a time.
    const char* skip_whitespace(const char* p) const noexcept {
        for (std::size_t n;; p += n) {
            p = skip_inline_space(p, end_);
            if (p == end_ || line_break_len(p, end_) || !(n = whitespace_len(p, end_))) return p;
        }
    }

    Region take(RegionKind kind, const char* to) noexcept {
        Region region{kind, static_cast<std::size_t>(p_ - begin_),
                      static_cast<std::size_t>(to - begin_)};
        p_ = to;
        return region;
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    std::size_t list_depth_ = 0;
    const char* expression_at_ = nullptr; // after the colon of an expression key
};

inline std::optional<Region> Scanner::next() noexcept {
    const char* p = p_;
    if (p == expression_at_) {
        expression_at_ = nullptr;
        std::size_t stop = std::string_view(p, static_cast<std::size_t>(end_ - p)).find(";;");
        return take(RegionKind::expression, stop == std::string_view::npos ? end_ : p + stop);
    }
    if (p == end_) return std::nullopt;
    if (*p == '"') {
        const char* after = skip_quoted(p, end_);
        return take(RegionKind::string, after ? after : end_);
    }
    if (*p == '#') return take(RegionKind::comment, skip_comment(p, end_));
    if (std::size_t n = line_break_len(p, end_)) return take(RegionKind::line_break, p + n);
    if (is_inline_space(*p) || whitespace_len(p, end_))
        return take(RegionKind::whitespace, skip_whitespace(p));
    if (is_bare_char(p, end_)) {
        const char* token_end = skip_bare_token(p, end_);
        const char* colon = skip_inline_space(token_end, end_);
        if (list_depth_ == 0 && colon < end_ && *colon == ':' &&
            is_expr_key(std::string_view(p, static_cast<std::size_t>(token_end - p))))
            expression_at_ = colon + 1;
        return take(RegionKind::bare_token, token_end);
    }
    if (*p == '[') ++list_depth_;
    if (*p == ']' && list_depth_ > 0) --list_depth_;
    bool terminator = *p == ';' && end_ - p >= 2 && p[1] == ';';
    return take(RegionKind::punctuation, p + (terminator ? 2 : 1));
}

} // namespace quarel::lex
