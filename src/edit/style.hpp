// The document's own style, for the text that edits compose: its line break
// and the indentation one level of nesting adds.
#pragma once

#include "cst/tree.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quarel {

struct Style {
    std::string newline = "\n"; // LF, or CR LF
    std::string step = "  ";    // what a nested line adds to its block's line
};

// The style a document shows: the newline of its first line break (outside
// strings and expressions, whose text is the user's), and the
// indentation that the first child of a block, on a line of its own, adds to
// the block's line (the most frequent among the first few blocks). Without
// either, LF and two spaces. It reads only as far as
// it must, and skips pairs that are busy (the answer is a preference, never
// a failure). The caller holds the root's lock.
Style infer_style(const Body& root);

// The line break that the layout of `root` shows first (as above), or
// nullopt when it shows none.
std::optional<std::string> shown_newline(const Body& root);

// The indentation step that the blocks of `root` show (as above), or nullopt
// when none shows one.
std::optional<std::string> shown_step(const Body& root);

} // namespace quarel
