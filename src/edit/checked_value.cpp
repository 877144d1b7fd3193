#include "edit/checked_value.hpp"

#include "edit/depth.hpp"
#include "edit/insert.hpp"
#include "edit/kind_check.hpp"
#include "edit/replace.hpp"
#include "edit/scalars.hpp"
#include "edit/separation.hpp"

namespace quarel {

std::variant<CheckedValue, EditError> check_value(std::string_view key, Value value, int level) {
    if (auto error = check_kind_fits(key, kind_of(value))) return std::move(*error);
    if (auto error = check_depth(level + depth(value))) return std::move(*error);
    return CheckedValue(key, std::move(value));
}

std::variant<PairRef, EditError> add(Body& body, std::size_t index, CheckedValue value,
                                     std::string_view base_indent, bool top_level,
                                     const Style& style) {
    std::optional<PairRef> added = insert(
        body, index, new_pair(value.key_, std::move(value.value_)), base_indent, top_level, style);
    if (!added) return make_error(ErrorCode::pair_busy);
    return std::move(*added);
}

std::optional<EditError> assign(Body* body, const PairRef& pair, CheckedValue value,
                                std::size_t near) {
    if (pair->key.view() != value.key_) return make_error(ErrorCode::changed_meanwhile);
    if (body && !separate_after(*body, pair, value.value_, near))
        return make_error(ErrorCode::pair_busy);
    set_value(*pair, std::move(value.value_));
    return std::nullopt;
}

} // namespace quarel
