// The layout terms shared by the edits: indentation and the spacing in
// front of a pair.
//
// `base_indent` is the indentation of the line holding the block whose body
// is edited (empty for the root body); `top_level` tells the root body from
// a block's body.
#pragma once

#include "cst/tree.hpp"
#include "edit/style.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarel {

inline bool has_line_feed(std::string_view text) noexcept {
    return text.find('\n') != std::string_view::npos;
}

// The indentation one step deeper than `base_indent`, for a child when no
// sibling shows one.
std::string indent_below(std::string_view base_indent, const Style& style);
// A line break followed by `indent`: the start of a line at that depth.
std::string new_line(std::string_view indent, const Style& style);
// The text after the last line feed; empty without one.
std::string_view line_indent(std::string_view text) noexcept;
// A pair's leading up to its first comment: the spacing from what precedes.
std::string_view leading_spacing(std::string_view leading) noexcept;
// The spacing a pair shows to a new neighbour copying it: the line breaks in
// front of its comment lines and the indentation of its own line (which
// the comment lines need not share), or that line break and indentation
// alone when it follows an end-of-line comment.
std::string model_spacing(std::string_view leading);
// A pair's leading from its first comment on; empty without comments.
std::string_view leading_comments(std::string_view leading) noexcept;

// The indentation for a new child line: the margin in the root body; in a
// block that of the first child starting a line, else one step below
// `base_indent`. Nullopt when busy.
std::optional<std::string> child_indent(const Body& body, std::string_view base_indent,
                                        bool top_level, const Style& style);
// The leading for a new pair placed next to the pair at `position` (which
// must exist), copied from it or from the last child starting a line.
// Nullopt when busy.
std::optional<std::string> spacing_near(const Body& body, std::size_t position,
                                        std::string_view base_indent, bool top_level,
                                        const Style& style);

} // namespace quarel
