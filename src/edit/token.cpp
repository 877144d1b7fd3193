#include "edit/token.hpp"

#include "cst/tree.hpp"
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
    // A key starting with U+FEFF would read back as a file's byte-order mark
    // where it opens the document.
    const bool mark_first = role == TokenRole::key && text.starts_with(utf8_bom);
    if (lex::is_bare_token(text) && !mark_first) return std::nullopt;
    return make_error(ErrorCode::invalid_token, {debug_quoted(text), role_name(role)});
}

} // namespace quarel
