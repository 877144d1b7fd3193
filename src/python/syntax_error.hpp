// The QuarelSyntaxError exception type and how a parse error is raised.
#pragma once

#include "parser/parser.hpp"
#include "python/ref.hpp"

namespace quarel::py {

// The exception type, created the first time it is asked for.
PyObject* syntax_error_type();
// Sets the exception for the error; returns null for the caller to return.
PyObject* raise_syntax_error(const ParseError& error);

} // namespace quarel::py
