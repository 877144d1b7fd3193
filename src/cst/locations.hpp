// Where every pair of a document stands in its printed text, found by pair.
//
// One printing pass lists them all; a table keyed by the pairs' addresses
// then finds each in constant time, so locating every pair of a document
// costs one pass over it.
#pragma once

#include "cst/printer.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace quarel {

class Locations {
  public:
    // Nullopt when a pair is locked for writing.
    static std::optional<Locations> of(const Body& body);

    // Null for a pair that does not print with the body.
    const PairSpan* find(const Pair* pair) const noexcept;

  private:
    std::size_t slot_of(const Pair* pair) const noexcept;

    std::vector<PairSpan> spans_;
    // Open addressing: 1 + the index of a span, or 0 for an empty slot.
    std::vector<std::uint32_t> slots_;
};

} // namespace quarel
