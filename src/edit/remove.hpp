// Taking a pair out of a body while keeping the body tidy.
#pragma once

#include "cst/tree.hpp"

namespace quarel {

enum class Removal { removed, absent, busy };

// Removes the pair held by this very handle from the body. The pair leaves
// with its spacing, the comment lines directly above it and the comment
// that ends its own line; a comment ending the line above it stays, and so
// do comments set off from it by a blank line. The pair moving up to the
// first place takes the spacing of the one that left; an emptied block
// closes up to `{}`. The removed pair keeps its texts and holds the comment
// that ended its line as its `loose_end`. The caller holds the body's lock
// exclusively; absent and busy change nothing. The pair is looked for first
// at `near` (position_of).
Removal remove_pair(Body& body, const PairRef& pair, bool top_level, std::size_t near = 0);

} // namespace quarel
