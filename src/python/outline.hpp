// Document.outline(): the engine's outline as tuples, and
// Document.symbols_json(): as an editor's document symbols.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_outline(PyObject* self);
PyObject* document_symbols_json(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
