// Finding a body's pairs by key and block name.
#pragma once

#include "cst/tree.hpp"
#include "edit/busy.hpp"

#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace quarel {

// Whether the pair has this key and, when a name is given, holds a block of
// that name. Compared byte for byte; the caller has checked that no one
// writes the pair.
inline bool matches(const Pair& pair, const Text& key,
                    std::optional<std::string_view> name) noexcept {
    if (!(pair.key == key)) return false;
    if (!name) return true;
    const Block* block = block_of(pair.value);
    return block && block->name && block->name->view() == *name;
}

// The first of the body's own pairs that matches (a new reference), a null
// handle when none does, or Busy. The caller holds the body's lock.
std::variant<PairRef, Busy> find(const Body& body, std::string_view key,
                                 std::optional<std::string_view> name);

// Every one of the body's own pairs that matches, in order, up to `limit`.
std::variant<std::vector<PairRef>, Busy>
find_all(const Body& body, std::string_view key, std::optional<std::string_view> name,
         std::size_t limit = std::numeric_limits<std::size_t>::max());

// Whether `target` is the pair held by `pair` or stands anywhere inside its
// value, or Busy: a move there would put the pair into itself. The caller
// holds the pair's lock; `held` is the pair.
std::variant<bool, Busy> encloses(const PairRef& pair, const Pair& held, const PairRef& target);

// Where the body holds this very pair (not an equal one), if it does. The
// search starts at `near` (where the pair stood when last seen) and widens
// from there, so a pair that has not moved, or moved little, is found at
// once in a body of any size.
std::optional<std::size_t> position_of(const Body& body, const PairRef& pair,
                                       std::size_t near = 0) noexcept;

// Whether the pair held by `inner` stands anywhere under the body, at any
// depth, or Busy. The caller holds the body's lock.
std::variant<bool, Busy> contains(const Body& body, const PairRef& inner);

} // namespace quarel
