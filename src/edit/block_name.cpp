#include "edit/block_name.hpp"

#include "edit/token.hpp"

namespace quarel {

EditError not_a_block(const Pair& pair) {
    return make_error(ErrorCode::not_a_block, {pair.key.view(), kind_name(kind_of(pair.value))});
}

std::optional<EditError> set_block_name(Pair& pair, std::optional<std::string_view> name) {
    if (name)
        if (auto error = check_token(*name, TokenRole::block_name)) return error;
    Block* block = block_of(pair.value);
    if (!block) return not_a_block(pair);
    // `link: {` becomes `link: x {`; removing a name keeps the space.
    if (name && !block->name && block->before_brace.empty()) block->before_brace = Text(" ");
    if (name)
        block->name = Text(*name);
    else
        block->name.reset();
    return std::nullopt;
}

} // namespace quarel
