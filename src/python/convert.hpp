// Conversion of values between the tree and Python objects.
#pragma once

#include "cst/tree.hpp"
#include "edit/given_value.hpp"
#include "python/ref.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quarel::py {

// A value as Python reads it, copied out under its pair's lock so that the
// conversion runs with no lock held: the text of a literal, string
// (unescaped) or expression, a copy of a list, nothing for a block.
using ValueCopy = std::variant<std::string, List, std::monostate>;
ValueCopy copy_value(const Value& value);

// How a pair inside a list reads: a (key, value) tuple, or as plain data
// (JSON-ready) a one-key dict {key: value}.
enum class ListPairs { tuples, dicts };

// str for literals, strings and expressions, list for lists (list pairs
// as `pairs` says), None for blocks.
Ref value_to_py(const ValueCopy& value, ListPairs pairs = ListPairs::tuples);

// A Python object as the engine takes a value: a str, bool or number, or a
// list, tuple or dict (of pairs) of them. `kind`, when given, must fit the
// object: a list for a sequence, no block. nullopt with the Python error set.
std::optional<GivenValue> given_from_py(PyObject* obj, std::optional<Kind> kind);

// A new value from a Python object for the pair with key `key`, made by
// the engine's new_value (edit/given_value.hpp). Without a kind the kind is
// inferred; `existing` is the list being replaced, whose quoting new
// elements follow. The value is not checked against its key or its depth in
// the document (see kind_check.hpp and depth.hpp). nullopt with the Python
// error set.
std::optional<Value> value_from_py(std::string_view key, PyObject* obj, std::optional<Kind> kind,
                                   const List* existing);

// The kind given as a `kind` argument: None (nullopt) or one of the kind
// names; anything else is refused here. False with the error set.
bool kind_arg(const char* function, PyObject* obj, std::optional<Kind>& kind);

} // namespace quarel::py
