// What an editor asks of a whole document, written by the engine as the
// language server protocol's JSON and handed back as bytes: document
// symbols, semantic tokens and folding ranges. Each takes the editor's text
// and the edits made to it since the document was parsed. (Formatting's
// edits are Document.format_edits_json, in python/format.hpp.)
#pragma once

#include "editor/positions.hpp"
#include "python/ref.hpp"

namespace quarel::py {

// utf-8, utf-16 or utf-32; false with a ValueError naming `function` else.
bool encoding_arg(const char* function, PyObject* obj, PositionEncoding& out);

// The bytes of what `json` writes: it is measured, and written into the
// new object in place.
template <class Json> PyObject* json_bytes(Json& json) {
    Ref bytes(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(json.size())));
    if (bytes) json.write(PyBytes_AsString(bytes.get()));
    return bytes.release();
}

PyObject* document_symbols_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* document_semantic_tokens_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* document_folding_ranges_json(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
