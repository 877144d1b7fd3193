// Fitting a snippet of source into a document, as if typed there: its line
// breaks become the document's and its indentation the body's depth, level
// by level in the document's indent step.
#pragma once

#include "edit/style.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quarel {

// The snippet with the whitespace around it removed, every line after the
// first moved to `indentation` (the depth of the body it goes into) and
// every line break made the document's. Before that, a snippet whose last
// line is a `}` indented deeper than its first (a block printed out of a
// nested body) is dedented by that brace's indentation. Text inside quoted
// strings never changes, and the continuation lines of an expression keep
// their indentation relative to the line of its key. `old_depth`, when
// given, is the indentation the snippet's lines stand at (that of the pair
// it was printed from), in place of the one a closing brace shows.
std::string fit_snippet(std::string_view source, std::string_view indentation, const Style& style,
                        std::optional<std::string_view> old_depth = std::nullopt);

// The reverse, for printing a nested pair on its own: `indentation` removed
// from the start of every line after the first, except lines that begin
// inside a quoted string.
std::string outdent(std::string_view text, std::string_view indentation);

} // namespace quarel
