// The tokens of a document as an editor colours them: every byte of its
// printed text lies in one token or is whitespace (a byte-order mark aside).
#pragma once

#include "cst/tree.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quarel {

enum class TokenKind : std::uint8_t {
    key,         // of a pair, or of a pair in a list
    name,        // of a block
    literal,     // a bare value
    string,      // with its quotes
    expr,        // the expression text, without the space around it
    comment,     // from `#` to the end of its line
    punctuation, // `:` `{` `}` `[` `]` `,` `;;`
};

// The token kinds' names, in the order of TokenKind: what Document.tokens()
// reports, and the order of the semantic token types an editor is told.
inline constexpr std::array<std::string_view, 7> token_kind_names = {
    "key", "name", "literal", "string", "expr", "comment", "punctuation"};
static_assert(token_kind_names.size() == static_cast<std::size_t>(TokenKind::punctuation) + 1);

// Offsets count bytes of the printed text, a byte-order mark included.
struct Token {
    std::size_t offset;
    std::size_t length;
    TokenKind kind;
};

// Appends the body's tokens in text order, none empty; false when a pair
// is locked for writing (the list is then incomplete).
bool tokens_of(const Body& body, std::vector<Token>& out);

} // namespace quarel
