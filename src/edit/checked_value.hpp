// Putting a new value into the tree: as the value of a new pair (add), or in
// place of a pair's value (assign).
//
// The value is checked first against where it goes: an expression key holds
// expressions and no other key does, and the value nests no deeper than the
// parser reads. Only check_value makes a CheckedValue, so neither edit can
// take a value that skipped a check. The checks need no lock: a caller can
// refuse a bad value before it looks at the place the value goes.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"
#include "edit/style.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quarel {

class CheckedValue {
  public:
    const std::string& key() const noexcept { return key_; }

  private:
    CheckedValue(std::string_view key, Value value) : key_(key), value_(std::move(value)) {}

    friend std::variant<CheckedValue, EditError> check_value(std::string_view, Value, int);
    friend std::variant<PairRef, EditError> add(Body&, std::size_t, CheckedValue, std::string_view,
                                                bool, const Style&);
    friend std::optional<EditError> assign(Body*, const PairRef&, CheckedValue, std::size_t);

    std::string key_;
    Value value_;
};

// `value` checked to stand under `key` inside `level` blocks: first that its
// kind fits the key, then that it nests within max_depth.
std::variant<CheckedValue, EditError> check_value(std::string_view key, Value value, int level);

// Places a new pair of the checked key and value at `index` (see insert).
// pair_busy, having changed nothing, when a sibling is locked.
std::variant<PairRef, EditError> add(Body& body, std::size_t index, CheckedValue value,
                                     std::string_view base_indent, bool top_level,
                                     const Style& style);

// Gives the pair held by `pair` the checked value in place of its own (see
// set_value). `body` is the body that holds the pair, if one does and the
// caller knows it: the pair after it there is kept from running into a new
// literal (separate_after; the pair is looked for first at `near`). The
// caller holds the pair's lock exclusively, and the body's. Refused, with
// nothing changed: changed_meanwhile when the pair's key is no longer the
// one the value was checked for, pair_busy when the next pair is locked.
std::optional<EditError> assign(Body* body, const PairRef& pair, CheckedValue value,
                                std::size_t near = 0);

} // namespace quarel
