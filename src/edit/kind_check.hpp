// Which kinds of value a key may hold, and kind names given by callers.
//
// Expression keys hold expressions and other keys never do: the parser reads
// the text after an expression key up to `;;`, and that of any other key as
// a literal, string, list or block, so a pair breaking the rule would not
// read back as itself.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <optional>
#include <string_view>
#include <variant>

namespace quarel {

// The kind with this name (literal, string, expr, list, block), or
// unknown_kind.
std::variant<Kind, EditError> parse_kind(std::string_view name);

bool kind_fits(std::string_view key, Kind kind) noexcept;
// The error for a value of this kind under this key, if it may not stand there.
std::optional<EditError> check_kind_fits(std::string_view key, Kind kind);

} // namespace quarel
