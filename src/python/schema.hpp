// What the schema checks of the package ask of a document: where places of
// its plain value (unwrap()) stand in its text (schema/locate.hpp), and
// back; and Document.validate, which hands the document to the schema.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

// Document._locate(path, as_key=False): (what, span, first, count, kind,
// pairs) for the place at `path`, or None; spans are (line, column, offset,
// end_line, end_column, end_offset) tuples, pairs (key, name or None).
PyObject* document_locate(PyObject* self, PyObject* args, PyObject* kwargs);
// Document._left_out(): (why, span, first_line, pairs) for each pair the
// plain value leaves out.
PyObject* document_left_out(PyObject* self);
// Document.path_at(offset).
PyObject* document_path_at(PyObject* self, PyObject* args, PyObject* kwargs);
// An attribute of the `schema` argument of function(), which must be a
// tallix_cst.Schema: null with TypeError naming it when it has no such
// attribute, with the error set when reading it failed.
Ref schema_attribute(const char* function, PyObject* schema, const char* name);
// Document.validate(schema): schema.problems(document). The schema belongs
// to the package, which this module does not import: it is asked.
PyObject* document_validate(PyObject* self, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
