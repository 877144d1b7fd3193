// What an editor asks of a whole document, written by the engine as the
// language server protocol's JSON and handed back as bytes: document
// symbols, semantic tokens and folding ranges. Each takes the editor's text
// and the edits made to it since the document was parsed.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_symbols_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* document_semantic_tokens_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* document_folding_ranges_json(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
