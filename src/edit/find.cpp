#include "edit/find.hpp"

#include <algorithm>

namespace quarel {

namespace {

// Calls found(pair) for each match in order until it returns false. False
// when a pair is busy. Nothing else runs while the scan reads, so it checks
// the pairs' locks instead of taking them: a lookup writes to no pair.
template <class Found>
bool each_match(const Body& body, std::string_view key, std::optional<std::string_view> name,
                Found found) {
    const Text wanted(key);
    for (const PairRef& pair : body.pairs) {
        if (pair.lock().writing()) return false;
        if (matches(*pair, wanted, name) && !found(pair)) break;
    }
    return true;
}

} // namespace

std::variant<PairRef, Busy> find(const Body& body, std::string_view key,
                                 std::optional<std::string_view> name) {
    PairRef first;
    if (!each_match(body, key, name, [&](const PairRef& pair) {
            first = pair;
            return false;
        }))
        return Busy{};
    return first;
}

std::variant<std::vector<PairRef>, Busy> find_all(const Body& body, std::string_view key,
                                                  std::optional<std::string_view> name,
                                                  std::size_t limit) {
    std::vector<PairRef> found;
    if (!each_match(body, key, name, [&](const PairRef& pair) {
            found.push_back(pair);
            return found.size() < limit;
        }))
        return Busy{};
    return found;
}

std::variant<bool, Busy> contains(const Body& body, const PairRef& inner) {
    for (const PairRef& pair : body.pairs) {
        if (pair.same(inner)) return true;
        if (pair.lock().writing()) return Busy{};
        if (const Block* block = block_of(pair->value)) {
            auto found = contains(block->body, inner);
            if (!std::holds_alternative<bool>(found) || std::get<bool>(found)) return found;
        }
    }
    return false;
}

std::optional<std::size_t> position_of(const Body& body, const PairRef& pair,
                                       std::size_t near) noexcept {
    const std::size_t n = body.pairs.size();
    near = std::min(near, n);
    for (std::size_t step = 0; step <= std::max(near, n - near); ++step) {
        if (step <= near && near - step < n && body.pairs[near - step].same(pair))
            return near - step;
        if (step > 0 && near + step < n && body.pairs[near + step].same(pair)) return near + step;
    }
    return std::nullopt;
}

std::variant<bool, Busy> encloses(const PairRef& pair, const Pair& held, const PairRef& target) {
    if (pair.same(target)) return true;
    const Block* block = block_of(held.value);
    if (!block) return false;
    return contains(block->body, target);
}

} // namespace quarel
