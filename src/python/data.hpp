// to_data(): a document or pair as plain, JSON-ready data. A pair is a dict
// with "key", "name", "kind", "value" (a pair inside a list as a one-key
// dict) and "children" (its pairs' dicts for a block, empty otherwise); a
// document is the list of its pairs' dicts.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_to_data(PyObject* self);
PyObject* pair_to_data(PyObject* self);

} // namespace quarel::py
