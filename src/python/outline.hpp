// Document.outline(): the engine's outline as tuples.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_outline(PyObject* self);

} // namespace quarel::py
