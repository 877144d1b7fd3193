// Finding a body's pairs by key and block name.
#pragma once

#include "cst/tree.hpp"
#include "edit/busy.hpp"

#include <optional>
#include <string_view>
#include <variant>

namespace quarel {

// Whether the pair has this key and, when a name is given, holds a block of
// that name. Compared byte for byte; the caller holds the pair's lock.
bool matches(const Pair& pair, std::string_view key, std::optional<std::string_view> name) noexcept;

// The first of the body's own pairs that matches (a new reference), a null
// handle when none does, or Busy. The caller holds the body's lock.
std::variant<PairRef, Busy> find(const Body& body, std::string_view key,
                                 std::optional<std::string_view> name);

} // namespace quarel
