// The grammar: turns Quarel source into a tree or one syntax error.
#pragma once

#include "cst/tree.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quarel {

struct ParseError {
    std::string message;
    std::uint64_t line;   // from 1
    std::uint64_t column; // from 1, in bytes
    std::uint64_t offset; // from 0, in bytes
};

// Blocks, lists and list pairs may nest this deep; deeper input is refused
// so that no recursive walk of a tree can exhaust the call stack.
inline constexpr int max_depth = 256;

// `depth` is how many levels the text will stand below the top of its
// document (a snippet placed in a block); the limit counts from there.
std::variant<Body, ParseError> parse(std::string_view source, int depth = 0);
// The whole text of a file: like `parse`, but a byte-order mark at its very
// start is set apart from the first key (positions still count its bytes).
std::variant<Body, ParseError> parse_file(std::string_view source);
// Every syntax error of the text, in text order; none when it parses. The
// first is the one `parse` (or, for a file, `parse_file`) reports; after
// each the reading resumes at a later line that starts a key or closes a
// block (parser.cpp tells which).
std::vector<ParseError> syntax_errors(std::string_view source, bool file);

// The text with what the recovering parse skipped blanked out and a `}` put
// in where it closed a block, which `parse` reads as the pairs that
// recovery kept; `inserted` holds where (in `text`) and how long each run
// of `}` put in is, in text order.
struct MendedText {
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> inserted;
};
MendedText mended_text(std::string_view source, bool file);

} // namespace quarel
