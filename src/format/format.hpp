// Formatting: the whole layout of a document made regular, its meaning kept.
//
// The formatted text is written from the tree in one walk (writer.hpp), read
// back, and checked to mean what the document meant (check.hpp); only then
// is its whitespace moved into the document's own nodes (adopt.hpp), so
// that the pairs, and every Python object over them, stay where they were.
#pragma once

#include "cst/tree.hpp"
#include "edit/error.hpp"
#include "format/adopt.hpp"
#include "format/options.hpp"

#include <variant>
#include <vector>

namespace quarel {

// Formats the document in place: whether its text changed. Refused, the
// tree unchanged, when the formatted text would mean something else or a
// pair is busy. With `changes`, the stretches of the old text that changed
// are listed there. The caller holds the root's write lock.
std::variant<bool, EditError> format_document(Body& root, const FormatOptions& options,
                                              std::vector<TextChange>* changes = nullptr);

} // namespace quarel
