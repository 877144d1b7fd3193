// Pair.location: where a pair stands in its document's text, as a
// `Location` named tuple.
#pragma once

#include "python/objects.hpp"

namespace quarel::py {

// Where every pair of the document stands, from the document's cache,
// which is worked out again when the tree has been edited since; null when
// a pair is locked for writing. Call it with the document's lock held.
const Locations* located(Root& root);

// Makes the Location class (a collections.namedtuple), once.
PyObject* create_location_type();

// The Location of the pair in the document that its parent chain leads
// to, or None when it does not print there (a detached pair).
Ref location_of(const PairRef& pair, const Parent* parent);

} // namespace quarel::py
