// Formatting: the whole layout of a document made regular, its meaning kept.
//
// The formatted text is written from the tree in one walk, read back, and
// checked to mean what the document meant (format_check.hpp); only then is
// its whitespace moved into the document's own nodes, so that the pairs,
// and every Python object over them, stay where they were.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quarel {

struct FormatOptions {
    std::optional<std::string> indent;  // the document's own step when absent
    std::optional<std::string> newline; // the document's own line break when absent
    std::size_t max_blank_lines = 1;
    std::size_t column_width = 100;
    bool final_newline = true;
    // Only the pairs whose key stands on these lines (from 1, both
    // included) are formatted, with everything inside them.
    std::optional<std::pair<std::size_t, std::size_t>> lines;
};

// Formats the document in place: whether its text changed. Refused, the
// tree unchanged, when the formatted text would mean something else or a
// pair is busy. The caller holds the root's write lock.
std::variant<bool, EditError> format_document(Body& root, const FormatOptions& options);

} // namespace quarel
