// Re-laying a pair: giving it the texts of another pair of the same shape
// (the same pair printed and read back in another layout), while every
// pair handle inside it stays the same, so Python objects for them still
// reach them.
#pragma once

#include "cst/tree.hpp"
#include "edit/busy.hpp"

#include <optional>

namespace quarel {

// Whether `from` has the shape of `to`: values of the same kinds, blocks
// with as many pairs, all the way down. False when a pair inside `to` is
// locked. The caller holds `to`'s lock exclusively.
bool same_shape(const Pair& to, const Pair& from);

// Moves the texts of `from` into `to`, which has its shape, keeping the
// handles of the pairs inside `to`. The caller holds `to`'s lock
// exclusively, and same_shape has found the pairs inside it free.
void relay(Pair& to, Pair&& from);

} // namespace quarel
