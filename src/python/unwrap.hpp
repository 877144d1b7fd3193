// unwrap(): the plain value of a document or pair (dict, list, str, int,
// float, bool), built from the engine's steps (schema/unwrap.hpp) with what
// a schema's `places` tells of each place.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

// Document.unwrap(schema=None) and Pair.unwrap(schema=None).
PyObject* document_unwrap(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* pair_unwrap(PyObject* self, PyObject* args, PyObject* kwargs);
// Document._unwrap_marked(names, literal): the plain value with each dict of
// named blocks made by `names()` and each literal that reads as text by
// `literal(text)`; literals that read as numbers or booleans are ones.
PyObject* document_unwrap_marked(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
