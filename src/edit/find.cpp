#include "edit/find.hpp"

namespace quarel {

bool matches(const Pair& pair, std::string_view key,
             std::optional<std::string_view> name) noexcept {
    if (pair.key.view() != key) return false;
    if (!name) return true;
    const Block* block = block_of(pair.value);
    return block && block->name && block->name->view() == *name;
}

std::variant<PairRef, Busy> find(const Body& body, std::string_view key,
                                 std::optional<std::string_view> name) {
    for (const PairRef& pair : body.pairs) {
        ReadGuard guard(pair.lock());
        if (!guard) return Busy{};
        if (matches(*pair, key, name)) return pair;
    }
    return PairRef();
}

} // namespace quarel
