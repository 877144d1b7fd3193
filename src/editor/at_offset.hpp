// What stands at an offset of a document's printed text, as hover,
// selection, completion and rename ask for it at the cursor.
#pragma once

#include "cst/locations.hpp"
#include "editor/tokens.hpp"

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quarel {

// The token that holds the offset or ends at it; of two that touch there,
// the one that starts there. Found by binary search in `tokens`, which are in
// text order.
std::optional<Token> token_at(std::span<const Token> tokens, std::size_t offset) noexcept;

// A pair whose location holds the offset: the pair, its place in its body,
// and the entry of the block pair whose body that is (none at the top).
struct PairAt {
    PairRef pair;
    std::size_t place;
    std::optional<std::size_t> block;
};

// The pairs whose location holds the offset, its end included, in walk
// order: a block's pair before the pairs inside it. Only the blocks that
// hold the offset are entered. False when a pair is locked for writing.
bool pairs_at(const Body& body, const Locations& where, std::size_t offset,
              std::vector<PairAt>& out);

} // namespace quarel
