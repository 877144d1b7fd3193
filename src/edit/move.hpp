// Moving a pair: placing a pair that no body holds (one just taken out of
// its body, or one detached before) in a body, as if typed there.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"
#include "edit/style.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace quarel {

// Whether the pair held by `pair` may go into the body of the block pair
// `into` (null for a document's root body), whose children stand inside
// `level` blocks: move_into_itself when `into` is the pair or inside it,
// too_deep when the pair would nest deeper than the parser reads, pair_busy
// when a pair inside it is locked. The caller holds the pair's lock; `held`
// is the pair.
std::optional<EditError> check_move(const PairRef& pair, const Pair& held, const PairRef* into,
                                    int level);

// Places `pair`, which no body holds, at `index`: its own comment lines and
// its text are re-indented to the body's depth (every pair inside it keeps
// its handle), and the comment that ended its line (its `loose_end`) ends
// it again. `opened_document` when the pair was its document's first,
// whose leading has no line before it; `depth` is the number of blocks
// around the body. Refused, with nothing changed: pair_busy when a lock is
// found taken, unreadable_move when the pair's text would not read back as
// itself at its new depth (never expected).
std::optional<EditError> insert_moved(Body& body, std::size_t index, const PairRef& pair,
                                      bool opened_document, std::string_view base_indent,
                                      bool top_level, int depth, const Style& style);

} // namespace quarel
