#include "edit/relay.hpp"

namespace quarel {

bool same_shape(const Pair& to, const Pair& from) {
    if (kind_of(to.value) != kind_of(from.value)) return false;
    const Block* mine = block_of(to.value);
    if (!mine) return true;
    const Body& theirs = block_of(from.value)->body;
    if (mine->body.pairs.size() != theirs.pairs.size()) return false;
    for (std::size_t i = 0; i < theirs.pairs.size(); ++i) {
        WriteGuard guard(mine->body.pairs[i].lock());
        if (!guard || !same_shape(*mine->body.pairs[i], *theirs.pairs[i])) return false;
    }
    return true;
}

void relay(Pair& to, Pair&& from) {
    to.leading = std::move(from.leading);
    to.key = std::move(from.key);
    to.before_colon = std::move(from.before_colon);
    to.after_colon = std::move(from.after_colon);
    Block* mine = block_of(to.value);
    if (!mine) {
        to.value = std::move(from.value);
        return;
    }
    Block& theirs = *block_of(from.value);
    mine->name = std::move(theirs.name);
    mine->before_brace = std::move(theirs.before_brace);
    mine->body.trailing = std::move(theirs.body.trailing);
    for (std::size_t i = 0; i < theirs.body.pairs.size(); ++i) {
        WriteGuard guard(mine->body.pairs[i].lock());
        relay(*mine->body.pairs[i], std::move(*theirs.body.pairs[i]));
    }
}

} // namespace quarel
