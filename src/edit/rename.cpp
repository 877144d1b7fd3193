#include "edit/rename.hpp"

#include "edit/kind_check.hpp"
#include "edit/token.hpp"

namespace quarel {

std::optional<EditError> rename(Pair& pair, std::string_view key) {
    if (auto error = check_token(key, TokenRole::key)) return error;
    if (!kind_fits(key, kind_of(pair.value)))
        return make_error(ErrorCode::rename_across_kinds, {pair.key.view(), key});
    pair.key = Text(key);
    return std::nullopt;
}

} // namespace quarel
