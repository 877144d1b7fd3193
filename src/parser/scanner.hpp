// Regions of Quarel source: every byte of any text, parsing or not, in one
// region, with the kind the parser would read it as. Whatever needs to know
// where strings, expressions and comments lie asks here rather than reading
// quotes and `;;` again.
#pragma once

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
    Region take(RegionKind kind, const char* to) noexcept;

    const char* begin_;
    const char* p_;
    const char* end_;
    std::size_t list_depth_ = 0;
    const char* expression_at_ = nullptr; // after the colon of an expression key
};

} // namespace quarel::lex
