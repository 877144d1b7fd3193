// Naming, renaming and unnaming a block, as `users` in `view: users { ... }`.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <optional>
#include <string_view>

namespace quarel {

// The error for a pair used as a block that holds something else.
EditError not_a_block(const Pair& pair);

// Sets the name of the block the pair holds, or removes it (nullopt). The
// name must be a bare token and the pair must hold a block; otherwise the
// error, and nothing changes. The caller holds the pair's lock exclusively.
std::optional<EditError> set_block_name(Pair& pair, std::optional<std::string_view> name);

} // namespace quarel
