// Placing new pairs into a body so that they read as typed in its style:
// each takes its line break, blank lines and indentation from the most
// similar sibling, and a snippet of source is re-indented to the body's depth.
// What the edit composes itself follows the document's `style`. A comment
// that ends the line of the pair before the gap stays on that line.
//
// The caller holds the body's lock exclusively. Siblings are read and the
// one existing pair that a placement rewrites (the pair it pushes down) is
// written under try-locks; when one is taken the insertion is Busy and
// nothing changes. An index past the end means the end.
#pragma once

#include "cst/tree.hpp"
#include "edit/busy.hpp"
#include "edit/style.hpp"
#include "parser/parser.hpp"

#include <cstddef>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace quarel {

// Places `pair` at `index`, replacing its leading. Returns a new reference to
// it, or nullopt when busy.
std::optional<PairRef> insert(Body& body, std::size_t index, Pair pair,
                              std::string_view base_indent, bool top_level, const Style& style);

// Parses `source`, re-indented to the body's depth, and places its pairs at
// `index` in order; the comments that open the snippet stay above its first
// pair. Returns new references to the placed pairs, the snippet's syntax
// error (positions count in the re-indented snippet), or Busy. `depth` is the
// number of blocks around the body: the snippet may nest only as deep as the
// rest of the document could be parsed.
std::variant<std::vector<PairRef>, ParseError, Busy>
insert_source(Body& body, std::size_t index, std::string_view source, std::string_view base_indent,
              bool top_level, int depth, const Style& style);

// Places pairs that no body holds at `index`: the first one spaced by the
// layout rules in front of its own leading, the others as they are.
// `end_comment` (with the spaces in front of it; empty for none) ends the
// line of the last one. Returns them, or nullopt when busy.
std::optional<std::vector<PairRef>>
place_pairs(Body& body, std::size_t index, std::vector<PairRef> fresh, std::string_view base_indent,
            bool top_level, const Style& style, std::string_view end_comment = {});

} // namespace quarel
