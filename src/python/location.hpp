// Pair.location: where a pair stands in its document's text, as a
// `Location` named tuple.
#pragma once

#include "python/objects.hpp"

namespace quarel::py {

// Makes the Location class (a collections.namedtuple), once.
PyObject* create_location_type();

// The Location of the pair in the document that its parent chain leads
// to, or None when it does not print there (a detached pair).
Ref location_of(const PairRef& pair, const Parent* parent);

} // namespace quarel::py
