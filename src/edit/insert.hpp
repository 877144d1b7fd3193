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

// Places `pair`, which no body holds, at `index` as if typed there: its own
// comment lines and its text are re-indented to the body's depth (every
// pair inside it keeps its handle), and the comment that ended its line
// (its `loose_end`) ends it again. `opened_document` when the pair was
// its document's first, whose leading has no line before it. Returns the
// error of text that would not read back (never expected), or Busy.
std::variant<std::monostate, ParseError, Busy>
insert_moved(Body& body, std::size_t index, const PairRef& pair, bool opened_document,
             std::string_view base_indent, bool top_level, int depth, const Style& style);

} // namespace quarel
