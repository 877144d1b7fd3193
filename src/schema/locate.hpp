// From the plain value of a document (unwrap.hpp) back to its text: where
// the value at a path of keys and indexes stands, and which pairs the plain
// value leaves out, both by collect.hpp's rules.
#pragma once

#include "cst/locations.hpp"
#include "schema/collect.hpp"
#include "schema/spans.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quarel {

// A step of a path into the plain value: a dict's key, or a list's index.
using PathStep = std::variant<std::string, std::size_t>;

// A pair on the way to a place, as a selector names it.
struct Segment {
    std::string key;
    std::string name; // empty when none
};

struct Located {
    enum What : std::uint8_t {
        document, // the whole document (span: where its first line starts)
        block,    // a block (span: its key and name)
        names,    // the dict of a key's named blocks (span: the first one's key)
        value,    // a pair's value, or a list's element
        repeated, // the list of the values of a key that repeats (span: its second
                  // key; `first`: its first; `count`: how many)
        key,      // a key located as such
        name,     // a block's name located as such
    };
    What what = value;
    Span span{};
    Span first{};
    std::size_t count = 0;
    // The kind of the value in the text, when the place is one value:
    // literal, string, expr, list or block; a pair in a list reads as list.
    std::string kind;
    // The pairs from the top of the document to the place (a list's
    // elements stand in the pair of the list).
    std::vector<Segment> pairs;
};

// Where the value at `path` stands; with `as_key`, where the path's last
// step stands as a key (or a block's name). Nullopt when the path leads
// nowhere, or a pair is locked for writing.
std::optional<Located> locate(const Body& body, const Locations& where,
                              const std::vector<PathStep>& path, bool as_key);

// A pair left out of the plain value (collect.hpp), where it stands.
struct LeftOutPair {
    LeftOut::Why why;
    Span head;                  // its key and name
    std::size_t first;          // the line of the pair that stands in its place
    std::vector<Segment> pairs; // to it, itself included
};
// Every pair the plain value leaves out, in text order; nullopt when a pair
// is locked for writing.
std::optional<std::vector<LeftOutPair>> left_out(const Body& body, const Locations& where);
// Whether the plain value leaves any pair out: `left_out`'s walk without the
// places, which most documents then never need; nullopt when a pair is
// locked for writing.
std::optional<bool> leaves_out(const Body& body);

// The path into the plain value of the innermost value whose text holds
// the offset (a block: the place of its pairs); empty for the document.
// A key, or a block's name, counts as its pair's value. Nullopt when a pair
// is locked for writing.
std::optional<std::vector<PathStep>> path_at(const Body& body, const Locations& where,
                                             std::size_t offset);

} // namespace quarel
