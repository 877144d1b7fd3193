// Pair.end_comment: the comment at the end of a pair's line, read from and
// written into the container the pair's object found it in, or the pair
// itself when it is out of every body.
#pragma once

#include "edit/error.hpp"
#include "python/objects.hpp"

#include <string>
#include <variant>

namespace quarel::py {

// The end comment of a Pair object's pair, with the spaces in front of it;
// empty for none.
std::variant<std::string, EditError> end_comment_of(PyObject* self);

PyObject* end_comment_get(PyObject* self);
int end_comment_set(PyObject* self, PyObject* value);

} // namespace quarel::py
