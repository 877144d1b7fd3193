// Turning plain text into tree values: quoting, kind inference, and the
// constructors of expression values, empty blocks and new pairs.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quarel {

// The string content that stands for `text` between double quotes. Escapes
// already in the text (a backslash before `n`) pass through unchanged.
std::string escape_string(std::string_view text);
// The text that a stored string content stands for; undoes escape_string.
std::string unescape_string(std::string_view content);
// Whether the text is non-empty and holds only ASCII letters, digits and
// `*` `+` `-` `.` `_`: text that is safe to write bare.
bool is_literal(std::string_view text) noexcept;
// Keys whose inferred value is always a quoted string.
bool is_always_quoted_key(std::string_view key) noexcept;

// The value that `text` becomes under `key`: an expression for expression
// keys, else a literal where the text allows one, else a string. Fails as
// scalar_value does for an expression.
std::variant<Value, EditError> infer_scalar(std::string_view key, std::string_view text);
// The value of this kind (literal, string or expr) that stands for the text:
// a literal must be a bare token, an expression must not hold `;;`.
std::variant<Value, EditError> scalar_value(Kind kind, std::string_view text);
// A literal of the text, which must be a bare token.
std::variant<Literal, EditError> literal_value(std::string_view text);
// An expression value; `text` must not hold `;;`.
Value expr_value(std::string_view text);
// An empty block, named when a name is given.
Value block_value(std::optional<std::string_view> name);
// A detached pair; its placement gives it a leading.
Pair new_pair(std::string_view key, Value value);

} // namespace quarel
