// The QuarelSyntaxError exception type, how a parse error is raised, and
// syntax_errors, which lists every error of a text.
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

} // namespace quarel::py
