#include "edit/depth.hpp"

#include "parser/parser.hpp"

#include <algorithm>
#include <string>

namespace quarel {

namespace {

int depth(const List& list) {
    int deepest = 0;
    for (const ListItem& item : list.items) deepest = std::max(deepest, depth(item.value));
    return 1 + deepest;
}

int depth(const Body& body) {
    int deepest = 0;
    for (const PairRef& pair : body.pairs) deepest = std::max(deepest, depth(pair->value));
    return deepest;
}

} // namespace

int depth(const Value& value) {
    if (const List* list = list_of(value)) return depth(*list);
    if (const Block* block = block_of(value)) return 1 + depth(block->body);
    return 0;
}

int depth(const ListValue& value) {
    if (auto* pair = std::get_if<Boxed<ListPair>>(&value)) return 1 + depth((*pair)->value);
    if (auto* list = std::get_if<Boxed<List>>(&value)) return depth(**list);
    return 0;
}

std::optional<EditError> check_depth(int level) {
    if (level <= max_depth) return std::nullopt;
    return make_error(ErrorCode::too_deep, {std::to_string(max_depth)});
}

} // namespace quarel
