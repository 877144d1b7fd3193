#include "editor/at_offset.hpp"

#include <algorithm>

namespace quarel {

namespace {

// A pair's span holds the spans of the pairs inside it, so only the blocks
// that hold the offset are entered.
bool collect(const Body& body, std::optional<std::size_t> block, const Locations& where,
             std::size_t offset, std::vector<PairAt>& out) {
    for (std::size_t i = 0; i < body.pairs.size(); ++i) {
        const PairRef& child = body.pairs[i];
        if (child.lock().writing()) return false;
        const PairSpan* span = where.find(&*child);
        if (!span || offset < span->start.offset || offset > span->end.offset) continue;
        out.push_back({child, i, block});
        if (const Block* inner = block_of(child->value))
            if (!collect(inner->body, out.size() - 1, where, offset, out)) return false;
    }
    return true;
}

} // namespace

std::optional<Token> token_at(std::span<const Token> tokens, std::size_t offset) noexcept {
    const auto after = std::upper_bound(
        tokens.begin(), tokens.end(), offset,
        [](std::size_t wanted, const Token& token) { return wanted < token.offset; });
    if (after == tokens.begin()) return std::nullopt;
    const Token& token = *std::prev(after);
    if (offset > token.offset + token.length) return std::nullopt;
    return token;
}

bool pairs_at(const Body& body, const Locations& where, std::size_t offset,
              std::vector<PairAt>& out) {
    return collect(body, std::nullopt, where, offset, out);
}

} // namespace quarel
