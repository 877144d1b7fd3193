// Conversion of values between the tree and Python objects.
#pragma once

#include "cst/tree.hpp"
#include "python/ref.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quarel::py {

// str for literals, strings (unescaped) and expressions, list for lists
// ((key, value) tuples for list pairs), None for blocks.
Ref value_to_py(const Value& value);
Ref list_value_to_py(const ListValue& value);

// A new value from a Python object for the pair with key `key`, which
// stands inside `depth` blocks. Without a kind the kind is inferred;
// `existing` is the list being replaced, whose quoting new elements follow.
// nullopt with the Python error set.
std::optional<Value> value_from_py(std::string_view key, PyObject* obj,
                                   std::optional<std::string_view> kind, const List* existing,
                                   int depth);

// ValueError unless something at this nesting level can be read back.
bool check_depth(int level);

// The kind name of a `kind` argument: None or text. False with the error set.
bool kind_arg(const char* function, PyObject* obj, std::optional<std::string>& kind);

// ValueError `"{text}" is not a valid Quarel {what}` unless the text can
// stand as a bare token.
bool validate_token(std::string_view text, const char* what);

// ValueError unless a value of this kind reads back under this key:
// expression keys hold expressions and nothing else does.
bool check_kind_fits(std::string_view key, Kind kind);

} // namespace quarel::py
