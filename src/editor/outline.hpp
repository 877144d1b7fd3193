// The outline of a document as an editor lists it: every pair in walk
// order with where it stands, how deep it is nested and its value in one
// short line.
#pragma once

#include "cst/printer.hpp"
#include "cst/tree.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarel {

// A stretch of Outline::text.
struct OutlineText {
    std::size_t offset;
    std::size_t size;
};

struct OutlineEntry {
    OutlineText key;
    OutlineText name;    // of a named block
    OutlineText preview; // empty for a block
    bool named;
    Kind kind;
    std::size_t depth; // 0 at the top level
    TextPosition start;
    TextPosition end;
    std::size_t key_end_column; // on the start's line
};

// Plain data that outlives the tree's locks: the texts are copied into one
// buffer.
struct Outline {
    std::vector<OutlineEntry> entries;
    std::string text;

    std::string_view view(OutlineText t) const noexcept { return {text.data() + t.offset, t.size}; }
};

// A preview holds at most this many code points, an ellipsis aside.
inline constexpr std::size_t preview_limit = 40;

// The value in one line: its first line, with the whitespace around it
// dropped and each run of spaces or tabs made one space, cut at
// `preview_limit` code points; an ellipsis marks text left out. A string
// reads unescaped, a list as `[a, k: v, [b]]` of its elements. Empty for a
// block. Appended to `out`.
void append_preview(const Value& value, std::string& out);

// Nullopt when a pair is locked for writing.
std::optional<Outline> outline_of(const Body& body);

} // namespace quarel
