// unwrap: the plain value of a document, a block or a pair, as the steps
// that build it (a dict, list, str, int, float, bool tree), so that the
// caller can build it once the tree may change again: every text is copied.
//
// The language's rules are collect.hpp's (how pairs of one key collect) and
// reading.hpp's (what a literal may read as). The steps leave to their
// reader only what a schema decides at each place: whether a literal reads
// as a number or a boolean, and whether the one value of a key is wrapped in
// a list (both decided by reading.hpp's rules).
#pragma once

#include "cst/tree.hpp"
#include "schema/reading.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarel {

struct Step {
    enum Op : std::uint8_t {
        dict,    // `size` entries follow, each a key step and a value
        names,   // a dict of named blocks by name, as `dict`
        list,    // `size` values follow
        key,     // the text is the entry's key
        text,    // a string or an expression: always a str
        literal, // a literal: `reading` tells what else it may read as
    };
    Op op;
    LiteralReading reading; // of a literal
    std::uint32_t size = 0; // of a dict or list
    // Of a key, text or literal: where its text stands in Unwrapped::texts.
    std::size_t start = 0;
    std::size_t length = 0;
};

struct Unwrapped {
    std::vector<Step> steps;
    std::string texts;
    std::string_view text_of(const Step& step) const noexcept {
        return std::string_view(texts).substr(step.start, step.length);
    }
};

// The steps of a body's dict; nullopt when a pair is locked for writing.
std::optional<Unwrapped> unwrap(const Body& body);
// The steps of a value (a pair's); nullopt as above.
std::optional<Unwrapped> unwrap(const Value& value);

} // namespace quarel
