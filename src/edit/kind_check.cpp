#include "edit/kind_check.hpp"

#include "parser/lexer.hpp"

namespace quarel {

std::variant<Kind, EditError> parse_kind(std::string_view name) {
    for (Kind kind : {Kind::literal, Kind::string, Kind::expr, Kind::list, Kind::block})
        if (kind_name(kind) == name) return kind;
    return make_error(ErrorCode::unknown_kind, {debug_quoted(name)});
}

bool kind_fits(std::string_view key, Kind kind) noexcept {
    return lex::is_expr_key(key) == (kind == Kind::expr);
}

std::optional<EditError> check_kind_fits(std::string_view key, Kind kind) {
    if (kind_fits(key, kind)) return std::nullopt;
    return make_error(lex::is_expr_key(key) ? ErrorCode::expr_key_needs_expr
                                            : ErrorCode::expr_for_other_key,
                      {key});
}

} // namespace quarel
