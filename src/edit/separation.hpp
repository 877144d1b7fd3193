// Keeping a value apart from the key after it.
//
// A pair's leading may be empty where the value before it ends in a
// delimiter (`sql: x;;b: 1`). Once a literal comes to stand there instead,
// by insertion, removal or replacement, the two would read as one token, so
// the following pair's leading becomes a single space.
#pragma once

#include "cst/tree.hpp"

#include <string_view>

namespace quarel {

// Whether a pair with this leading, written right after `value`, would run
// into it.
bool needs_separation(const Value& value, std::string_view leading) noexcept;

// Keeps the pair after `pair` in `body` from running into `value`, the value
// `pair` is about to hold. The caller holds the body's lock exclusively and
// may hold `pair`'s lock. Call it before storing the value: it returns false
// when the following pair is busy, having changed nothing. A pair not in the
// body, or last in it, needs nothing. The pair is looked for first at `near`
// (position_of).
bool separate_after(Body& body, const PairRef& pair, const Value& value, std::size_t near = 0);

} // namespace quarel
