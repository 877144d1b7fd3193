// Giving a pair a new key.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <optional>
#include <string_view>

namespace quarel {

// Sets the pair's key, which must be a bare token and hold the pair's kind
// of value as the old one did (see kind_check.hpp); otherwise the error, and
// nothing changes. The caller holds the pair's lock exclusively.
std::optional<EditError> rename(Pair& pair, std::string_view key);

} // namespace quarel
