// Nesting depth, counted as the parser counts it: each block, list and list
// pair is one level, and the parser reads no more than max_depth of them.
// Edits keep every value within that, so that what they write reads back.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <optional>

namespace quarel {

// How many levels a new value nests. A block's pairs are read without their
// locks: this is for values not yet placed in a tree.
int depth(const Value& value);
int depth(const ListValue& value);

// too_deep when a value reaching `level` levels below the top of its
// document would not be read back.
std::optional<EditError> check_depth(int level);

} // namespace quarel
