// The engine's tables of names as Python tuples, each made once (borrowed
// references; null with the error set when making one failed). The module
// exports them as KINDS and TOKEN_KINDS, so that the package reads the
// engine's order rather than repeating it.
#pragma once

#include "python/ref.hpp"

namespace quarel::py {

// literal, string, expr, list, block: in the order of Kind.
PyObject* kind_names_tuple();
// key, name, literal, string, expr, comment, punctuation: in the order of
// TokenKind.
PyObject* token_kind_names_tuple();

} // namespace quarel::py
