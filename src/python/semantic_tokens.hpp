// Document.semantic_tokens_json(): the tokens as an editor's semantic tokens.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_semantic_tokens_json(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
