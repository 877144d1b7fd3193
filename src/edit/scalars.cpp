#include "edit/scalars.hpp"

#include "edit/token.hpp"
#include "parser/lexer.hpp"

#include <algorithm>
#include <array>

namespace quarel {

namespace {

bool is_literal_char(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
           c == '+' || c == '-' || c == '.' || c == '_';
}

} // namespace

std::string escape_string(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            // A backslash that would escape a quote, a backslash or the closing
            // quote is doubled; before anything else it already stands alone.
            bool protects = i + 1 == text.size() || text[i + 1] == '"' || text[i + 1] == '\\';
            out += protects ? "\\\\" : "\\";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescape_string(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    for (std::size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\\' && i + 1 < content.size() &&
            (content[i + 1] == '\\' || content[i + 1] == '"'))
            ++i;
        out += content[i];
    }
    return out;
}

bool is_literal(std::string_view text) noexcept {
    return !text.empty() && std::all_of(text.begin(), text.end(), is_literal_char);
}

bool is_always_quoted_key(std::string_view key) noexcept {
    static constexpr std::array<std::string_view, 14> keys = {
        "url",          "label",         "value",         "include",          "icon_url",
        "connection",   "view_label",    "description",   "group_label",      "persist_for",
        "value_format", "default_value", "max_cache_age", "group_item_label",
    };
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::variant<Value, EditError> infer_scalar(std::string_view key, std::string_view text) {
    if (lex::is_expr_key(key)) return scalar_value(Kind::expr, text);
    if (is_literal(text) && !is_always_quoted_key(key)) return Value(Literal{Text(text)});
    return Value(String{Text(escape_string(text))});
}

std::variant<Value, EditError> scalar_value(Kind kind, std::string_view text) {
    switch (kind) {
    case Kind::literal: {
        auto literal = literal_value(text);
        if (auto* error = std::get_if<EditError>(&literal)) return std::move(*error);
        return Value(std::move(std::get<Literal>(literal)));
    }
    case Kind::expr:
        if (text.find(";;") != std::string_view::npos)
            return make_error(ErrorCode::expr_terminator);
        return expr_value(text);
    default: return Value(String{Text(escape_string(text))});
    }
}

std::variant<Literal, EditError> literal_value(std::string_view text) {
    if (auto error = check_token(text, TokenRole::literal)) return std::move(*error);
    return Literal{Text(text)};
}

Value expr_value(std::string_view text) {
    return Boxed<Expr>(Expr{Text(lex::trim_whitespace(text)), Text(" ")});
}

Value block_value(std::optional<std::string_view> name) {
    Block block;
    if (name) {
        block.name = Text(*name);
        block.before_brace = Text(" ");
    }
    return Boxed<Block>(std::move(block));
}

Pair new_pair(std::string_view key, Value value) {
    return Pair{Text(), Text(key), Text(), Text(" "), std::move(value), std::nullopt};
}

} // namespace quarel
