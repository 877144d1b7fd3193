// How the pairs of a body, or the pairs of a list, collect into the entries
// of a plain dict: one entry per key, in the order of the key's first pair.
//
// In a body the first pair of a key decides its form. Named blocks
// (`view: users { ... }`) collect into a dict by name, the first block of a
// name standing for it; unnamed pairs give their value, or, when the key
// repeats, the list of their values. Pairs of the other form, and blocks
// whose name came before, are left out of the plain value (a schema check
// reports them). In a list whose items are all pairs, a key that repeats
// gives the list of its values likewise.
#pragma once

#include "cst/tree.hpp"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarel {

struct Entry {
    std::string_view key;
    bool named = false;
    std::uint32_t first = 0; // into Collected::members
    std::uint32_t count = 0;
};

// A pair left out of the plain value, and the first pair of its key (or of
// its key and name) that stands in its place.
struct LeftOut {
    enum Why : std::uint8_t { other_form, name_again };
    const Pair* pair;
    const Pair* first;
    Why why;
};

// The entries of one body, or of one list of pairs. Reused from body to
// body, it keeps its memory.
template <class Member> struct Collected {
    std::vector<Entry> entries;
    std::vector<const Member*> members; // the pairs of each entry, in order
    std::vector<LeftOut> left_out;      // bodies only

    // The entry of a key, or null.
    const Entry* find(std::string_view key) const noexcept;
    const Member* const* begin(const Entry& entry) const noexcept {
        return members.data() + entry.first;
    }
    const Member* const* end(const Entry& entry) const noexcept {
        return members.data() + entry.first + entry.count;
    }

    // Scratch space of the collecting.
    struct NameKey {
        std::uint32_t entry;
        std::string_view name;
        bool operator==(const NameKey&) const = default;
    };
    struct NameHash {
        std::size_t operator()(const NameKey& k) const noexcept {
            return std::hash<std::string_view>()(k.name) ^ k.entry;
        }
    };
    std::vector<const Member*> in_order;
    std::vector<std::uint32_t> entry_of;
    std::vector<const Member*> firsts;
    std::unordered_map<std::string_view, std::uint32_t> by_key;
    std::unordered_map<NameKey, const Pair*, NameHash> by_name;
};
using BodyEntries = Collected<Pair>;
using ListEntries = Collected<ListPair>;

// False when a pair of the body is locked for writing.
bool collect(const Body& body, BodyEntries& out);
// The list's pairs, when every item is a pair (and there is one at least):
// false for any other list.
bool collect(const List& list, ListEntries& out);

// The pair of a named entry that stands for a name, or null.
const Pair* named_block(const BodyEntries& entries, const Entry& entry, std::string_view name);

// The name of a named block pair (empty for another pair).
std::string_view block_name(const Pair& pair) noexcept;

} // namespace quarel
