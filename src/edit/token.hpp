// Text that must stand in the source as one bare token: keys, block names,
// and the text of a literal value.
#pragma once

#include "edit/error.hpp"

#include <optional>
#include <string_view>

namespace quarel {

enum class TokenRole { key, block_name, literal };

// invalid_token unless the text is a non-empty run of bare-token characters
// (no whitespace, none of `"` `#` `,` `:` `;` `[` `]` `{` `}`).
std::optional<EditError> check_token(std::string_view text, TokenRole role);

} // namespace quarel
