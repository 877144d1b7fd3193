#include "editor/key_counts.hpp"

#include <map>
#include <string_view>

namespace quarel {

namespace {

// A block counts for a key when the key comes the `times`-th time in it.
bool count(const Body& body, const std::optional<std::string>& block_key, std::size_t times,
           KeyCounts& out) {
    std::map<std::string, std::size_t>& counts = out[block_key];
    std::map<std::string_view, std::size_t> seen;
    for (const PairRef& ref : body.pairs) {
        if (ref.lock().writing()) return false;
        const Pair& pair = *ref;
        if (++seen[pair.key.view()] == times) ++counts[std::string(pair.key.view())];
    }
    for (const PairRef& ref : body.pairs)
        if (const Block* block = block_of(ref->value))
            if (!count(block->body, std::string(ref->key.view()), times, out)) return false;
    return true;
}

} // namespace

std::optional<KeyCounts> key_counts(const Body& body, bool repeated) {
    KeyCounts counts;
    if (!count(body, std::nullopt, repeated ? 2 : 1, counts)) return std::nullopt;
    return counts;
}

} // namespace quarel
