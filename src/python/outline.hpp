// Document.outline(): the engine's outline as tuples.
#pragma once

#include "editor/outline.hpp"
#include "python/ref.hpp"

#include <optional>

namespace quarel::py {

PyObject* document_outline(PyObject* self);
// The outline, worked out under the document's lock; nullopt with the
// exception set when a pair is being written.
std::optional<Outline> locked_outline(PyObject* self);

} // namespace quarel::py
