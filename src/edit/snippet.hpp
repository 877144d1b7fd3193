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
// every line break made the document's. First the indentation that all its
// lines share, its first line's before trimming included, is taken off
// (for a snippet whose first line shows none, a block printed out of a
// nested body, that of the `}` ending it). What lies deeper is counted in
// the snippet's own step, which its block nesting shows (else its smallest
// indentation), and written in the document's; of what is left, a tab
// counts as one more step and spaces stay to align. Text inside quoted strings
// never changes; the next lines of an expression stay as deep below the line
// of its key as before, in the document's steps. `old_depth`, when given, is
// the indentation the snippet's lines stand at (that of a pair printed from
// a document), and without block nesting its step is the document's.
std::string fit_snippet(std::string_view source, std::string_view indentation, const Style& style,
                        std::optional<std::string_view> old_depth = std::nullopt);

// The reverse, for printing a nested pair on its own: `indentation` removed
// from the start of every line after the first, except lines that begin
// inside a quoted string.
std::string outdent(std::string_view text, std::string_view indentation);

} // namespace quarel
