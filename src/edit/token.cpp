#include "edit/token.hpp"

#include "parser/lexer.hpp"

namespace quarel {

namespace {

std::string_view role_name(TokenRole role) noexcept {
    switch (role) {
    case TokenRole::key: return "key";
    case TokenRole::block_name: return "block name";
    case TokenRole::literal: return "literal";
    }
    return "";
}

} // namespace

std::optional<EditError> check_token(std::string_view text, TokenRole role) {
    if (lex::is_bare_token(text)) return std::nullopt;
    return make_error(ErrorCode::invalid_token, {debug_quoted(text), role_name(role)});
}

} // namespace quarel
