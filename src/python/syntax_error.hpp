// The QuarelSyntaxError exception type, how a parse error is raised, and
// syntax_errors, which lists every error of a text, and recovered_text,
// which gives what the recovering parse reads.
#pragma once

#include "parser/parser.hpp"
#include "python/ref.hpp"

namespace quarel::py {

// The exception type, created the first time it is asked for.
PyObject* syntax_error_type();
// Sets the exception for the error; returns null for the caller to return.
PyObject* raise_syntax_error(const ParseError& error);
// syntax_errors(text): a list of QuarelSyntaxError objects, as a parse
// that failed on each would raise.
PyObject* syntax_errors(PyObject*, PyObject* args, PyObject* kwargs);
// recovered_text(text): the text the recovering parse reads, and the moves
// that carry its offsets back into the text given.
PyObject* recovered_text(PyObject*, PyObject* args, PyObject* kwargs);

} // namespace quarel::py
