// The source printer: writes a tree back as Quarel text, adding only the
// punctuation that the tree does not store.
//
// A function returns false when it meets a pair locked for writing (only
// possible while that pair is being edited further up the stack); the
// output is then incomplete. Printing runs no other code while it reads, so
// it checks the pairs' locks rather than taking them.
#pragma once

#include "cst/tree.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quarel {

// A place in printed text: the offset from 0, line and column from 1, all
// in bytes.
struct TextPosition {
    std::size_t offset;
    std::size_t line;
    std::size_t column;
};
// Where a pair stands: from its key to just past its value.
struct PairSpan {
    const Pair* pair;
    TextPosition start;
    TextPosition end;
};

bool print_body(const Body& body, std::string& out);
// Prints into memory of exactly the printed size, which `buffer` hands out
// (or returns null, and the printing stops, when it cannot). `size` is that
// size when it is known, and the body is then printed without counting it
// first; a size that proves wrong is counted again and `buffer` asked
// again. The printed size, or nullopt when printing stopped.
std::optional<std::size_t> print_body_into(const Body& body, std::optional<std::size_t> size,
                                           const std::function<char*(std::size_t)>& buffer);
bool print_pair(const PairRef& pair, std::string& out, bool include_leading);
// Prints into the `capacity` bytes at `out` when the text fits there: its
// size, or nullopt when it does not fit or printing stopped. Text that
// surely fits (a short pair; a body edited a little since its size was
// last known) prints so without counting it first.
std::optional<std::size_t> print_body_within(const Body& body, char* out, std::size_t capacity);
std::optional<std::size_t> print_pair_within(const PairRef& pair, bool include_leading, char* out,
                                             std::size_t capacity);
bool print_value(const Value& value, std::string& out);
void print_list_value(const ListValue& value, std::string& out);
// Where every pair under the body stands in its printed text, in print
// order: a printing pass that writes nothing.
bool locate_pairs(const Body& body, std::vector<PairSpan>& spans);

} // namespace quarel
