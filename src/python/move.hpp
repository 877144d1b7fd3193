// Pair.move_to: taking a pair out of where it stands and placing it in a
// container of this or another document, re-indented to fit there.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* move_to(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
