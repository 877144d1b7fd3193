// Building new lists: the quoting of their elements and the layout
// `[a, b, c]` that the editing engine then fits to the list they replace.
#pragma once

#include "cst/tree.hpp"

#include <string_view>
#include <vector>

namespace quarel {

// How a new text element is written: bare where is_literal allows, or
// always between quotes.
enum class Quoting { bare_when_possible, always_quoted };

// The quoting of new plain elements, after the first plain element of the
// list they replace (null for none); bare without one.
Quoting element_quoting(const List* existing);
// The quoting of new pair values, after the first plain pair value of the
// list they replace; quoted without one.
Quoting pair_value_quoting(const List* existing);

// A text element, literal or string as the quoting says.
ListValue list_text(std::string_view text, Quoting quoting);
// A `key: value` element; the key must be a bare token (see token.hpp).
ListValue list_pair(std::string_view key, ListValue value);
// The elements laid out as `[a, b, c]`.
List new_list(std::vector<ListValue> values);

} // namespace quarel
