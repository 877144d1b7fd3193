// Giving an existing pair a new value from Python.
//
// The Python object is converted with no lock held (conversion may run
// Python code, which may touch the same document); the store then checks
// that the pair still is what the conversion assumed.
#pragma once

#include "python/objects.hpp"

#include <optional>

namespace quarel::py {

// The value setter: keeps the pair's kind, except that a literal becomes a
// string when the text cannot stand bare. `parent` is where the pair was
// found (null for none), `place` where it stood there (a hint, kept up to
// date). False with the Python error set.
bool assign_value(const PairRef& pair, const ParentPtr& parent, std::size_t& place, PyObject* obj);

// set_value(): the kind is inferred, or forced by `kind`.
bool replace_value(const PairRef& pair, const ParentPtr& parent, std::size_t& place, PyObject* obj,
                   std::optional<Kind> kind);

} // namespace quarel::py
