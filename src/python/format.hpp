// Document.format(): the formatter's options taken from Python.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_format(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
