// Document.format(): the formatter's options taken from Python, by the
// names and with the defaults of the engine's table (format/options.hpp).
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

PyObject* document_format(PyObject* self, PyObject* args, PyObject* kwargs);
// Document.format_edits_json(encoding, **options): formats, and returns the
// changes as the language server protocol's TextEdit list.
PyObject* document_format_edits_json(PyObject* self, PyObject* args, PyObject* kwargs);

// The options with their defaults, ((name, default), ...) in the engine's
// order, made once: a borrowed reference, null with the error set when
// making it failed. The module exports it as FORMAT_OPTIONS.
PyObject* format_option_defaults();
// Document.format's docstring, its signature written from that table; null
// with the error set when it could not be made.
const char* format_doc();
const char* format_edits_doc();

} // namespace quarel::py
