// The safety check: what formatting must keep of a document. The same
// pairs in the same order with the same keys, names, kinds and values, and
// the same comments where they were. Whitespace outside strings is free, and
// so is the indentation of an expression's lines, but for those that start
// inside a literal (expression_lines.hpp), which must stay to the byte.
#pragma once

#include "cst/tree.hpp"

#include <optional>
#include <string>

namespace quarel {

// The selector path (`view:users/sql`) of the first pair whose meaning
// differs between the two documents, or of the block (`/` for the document)
// whose own comments differ; nullopt when they mean the same.
std::optional<std::string> first_difference(const Body& before, const Body& after);

} // namespace quarel
