// A value as a caller gives it, before it is a tree value: text, a number
// (as its text), a truth value, or a list of these, of key-value pairs and
// of lists. The one place that decides what it becomes: its kind, how each
// element is quoted, and how a truth value is written. The Python layer
// converts its objects into it, the edit fuzzer makes it from bytes.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quarel {

// A number as its text (Python's str() of it), written bare.
struct GivenNumber {
    std::string text;
};
// Text; a number; a truth value, written `yes` or `no`.
using GivenScalar = std::variant<std::string, GivenNumber, bool>;

struct GivenElement;
struct GivenList {
    std::vector<GivenElement> elements;
};
// A `key: value` element of a list.
struct GivenPair {
    std::string key;
    std::variant<GivenScalar, GivenList> value;
};
struct GivenElement {
    std::variant<GivenScalar, GivenList, GivenPair> value;
};

using GivenValue = std::variant<GivenScalar, GivenList>;

// The value `given` becomes for a pair with key `key`. A list becomes a
// list, its text elements and pair values quoted as those of `existing`,
// the list it replaces (null for none). A scalar becomes a value of `kind`
// (literal, string or expr) when one is given; without one, a number or
// truth value a literal, and text what infer_scalar makes of it under the
// key. Refused: a key that is no bare token, a number or literal that
// cannot stand bare, an expression holding `;;`. The value is not yet
// checked against its key or its depth (checked_value.hpp).
std::variant<Value, EditError> new_value(std::string_view key, const GivenValue& given,
                                         std::optional<Kind> kind, const List* existing);

// The kind that assigning `given` keeps for a pair that holds a `held`:
// that kind, except that a literal given text that cannot stand bare
// becomes a string.
Kind assigned_kind(Kind held, const GivenValue& given);

} // namespace quarel
