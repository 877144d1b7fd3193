// Replacing a pair's value in the layout of the value it replaces.
#pragma once

#include "cst/tree.hpp"

namespace quarel {

// Stores `value` in the pair, whose lock the caller holds exclusively. A new
// expression keeps the spacing before the old one's `;;`; a new list takes
// the old list's style. Nothing outside the value changes: to keep the next
// pair from running into a new literal, see separate_after.
void set_value(Pair& pair, Value value);

// The items of `fresh` laid out like those of `old`: its line breaks,
// indentation, comma spacing and trailing comma. An old list without items
// offers no style and leaves `fresh` as it is.
List restyle_list(const List& old, List fresh);

} // namespace quarel
