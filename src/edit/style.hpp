// The document's own style, for the text that edits compose and for the
// formatter: its line break and the indentation one level of nesting adds,
// each the one most of the file shows.
#pragma once

#include "cst/tree.hpp"

#include <optional>
#include <string>

namespace quarel {

// What the whole document shows, each by majority, ties going to the one
// seen first:
// - `newline`: LF or CR LF, of the line breaks of its layout (outside
//   strings and expressions, whose text is the user's); when the layout
//   has none, of the line breaks inside its expressions. Lone CRs do not
//   vote: no tool keeps writing them, and a file of them gets LF.
// - `step`: the indentation that a pair on a line of its own adds to the
//   line of the block that holds it, over every such pair.
// Nullopt for what the document does not show. Pairs that are busy are
// passed over (the answer is a preference, never a failure). The caller
// holds the root's lock.
struct ShownStyle {
    std::optional<std::string> newline;
    std::optional<std::string> step;
};
ShownStyle shown_style(const Body& root);

struct Style {
    std::string newline = "\n"; // LF, or CR LF
    std::string step = "  ";    // what a nested line adds to its block's line
};

// The shown style, LF and two spaces where the document shows none.
Style infer_style(const Body& root);

} // namespace quarel
