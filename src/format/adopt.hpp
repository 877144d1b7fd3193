// Adopting a formatted layout: the whitespace of a formatted tree moved into
// the document's own nodes, which hold the same pairs and items, so that
// the pairs, and every Python object over them, stay where they were.
#pragma once

#include "cst/tree.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace quarel {

// A stretch [start, end) of the document's text as it printed before,
// replaced by `text`.
struct TextChange {
    std::size_t start;
    std::size_t end;
    std::string text;
};

// Moves the texts of `formatted` into `document` where they differ:
// whether any did. With `changes`, what changed is listed there too, in
// text order: each run of whitespace that differs between the same words,
// as the smallest stretch that differs (never cutting a character or a CR
// LF in two).
bool adopt_layout(Body& document, Body& formatted, std::vector<TextChange>* changes);

} // namespace quarel
