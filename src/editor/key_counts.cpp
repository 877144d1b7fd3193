#include "editor/key_counts.hpp"

#include <set>
#include <string_view>

namespace quarel {

namespace {

bool count(const Body& body, const std::optional<std::string>& block_key, KeyCounts& out) {
    std::map<std::string, std::size_t>& counts = out[block_key];
    std::set<std::string_view> seen;
    for (const PairRef& ref : body.pairs) {
        if (ref.lock().writing()) return false;
        const Pair& pair = *ref;
        if (seen.insert(pair.key.view()).second) ++counts[std::string(pair.key.view())];
    }
    for (const PairRef& ref : body.pairs)
        if (const Block* block = block_of(ref->value))
            if (!count(block->body, std::string(ref->key.view()), out)) return false;
    return true;
}

} // namespace

std::optional<KeyCounts> key_counts(const Body& body) {
    KeyCounts counts;
    if (!count(body, std::nullopt, counts)) return std::nullopt;
    return counts;
}

} // namespace quarel
