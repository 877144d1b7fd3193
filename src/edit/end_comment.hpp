// The comment at the end of a pair's line, read and written for the pair.
//
// In a body it stands in the text after the pair: the next pair's leading or
// the body's trailing, as the line end that divide() finds there
// (edit/comment_text.hpp). Out of every body the pair keeps it in
// `loose_end`.
#pragma once

#include "cst/tree.hpp"
#include "edit/busy.hpp"
#include "edit/style.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quarel {

// The text that opens place `index` of the body (at most its size): the
// leading of the pair there, or the body's trailing. Nullopt when busy.
std::optional<std::string> text_at(const Body& body, std::size_t index);

// The end comment of the pair held by this handle: read from `body` when
// the body holds the pair, else the one the pair kept when it left every
// body; nullopt for a pair that stands in some other body. The caller holds
// the body's lock (`body` may be null). The pair is looked for first at
// `near` (position_of), here and below.
std::variant<std::optional<std::string>, Busy> end_comment_of(const Body* body, const PairRef& pair,
                                                              std::size_t near = 0);

// Gives the body's pair held by this handle the end comment `text` (from
// compose_end_comment; empty removes it). False for a pair not in the body;
// Busy changes nothing. The caller holds the body's lock exclusively.
std::variant<bool, Busy> set_end_comment(Body& body, const PairRef& pair, std::string_view text,
                                         std::string_view base_indent, bool top_level,
                                         const Style& style, std::size_t near = 0);

// The line that what follows a pair of the body moves to when the pair
// gains an end comment: a following pair's at the depth of the body's
// children, the block's closing brace's, or none at the end of the
// document. Nullopt when busy.
std::optional<std::string> next_line_after(const Body& body, bool pair_follows,
                                           std::string_view base_indent, bool top_level,
                                           const Style& style);

} // namespace quarel
