#include "edit/error.hpp"

#include "parser/lexer.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

namespace quarel {

namespace {

// The wording of each code, in the order of ErrorCode.
constexpr std::array<std::string_view, 17> wordings = {
    "{} is not a valid Quarel {}",
    "`{}` is an expression key; its value must be an expr",
    "`{}` is not an expression key; only expression keys hold expr values",
    "cannot rename `{}` to `{}`: expression keys and other keys hold different kinds of value",
    "an expression cannot contain `;;`",
    "nesting deeper than {} levels",
    "`{}` is a {}, not a block",
    "unknown kind {}; expected literal, string, expr, list or block",
    "index out of range",
    "pair is in use by an operation in progress",
    "document is in use by an operation in progress",
    "the pair was changed while its new value was being converted",
    "an end-of-line comment cannot hold a line break",
    "cannot move `{}` into itself or a block inside it",
    "the pair is no longer where this Pair object found it; find it again",
    "the moved pair would not read back as itself",
    "formatting would change `{}`; the document is left as it was",
};
static_assert(wordings.size() == static_cast<std::size_t>(ErrorCode::format_changes_meaning) + 1);

} // namespace

EditError make_error(ErrorCode code, std::initializer_list<std::string_view> args) {
    std::string_view wording = wordings[static_cast<std::size_t>(code)];
    std::string message;
    const std::string_view* arg = args.begin();
    for (std::size_t hole; (hole = wording.find("{}")) != std::string_view::npos;) {
        message += wording.substr(0, hole);
        if (arg != args.end()) message += *arg++;
        wording.remove_prefix(hole + 2);
    }
    message += wording;
    return {code, std::move(message)};
}

std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        len = std::min(len, text.size() - i);
        char32_t cp = c < 0x80 ? c : c & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case 0: out += "\\0"; break;
        default:
            if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) ||
                (cp != ' ' && lex::whitespace_len(text.data() + i, text.data() + text.size()))) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(text.substr(i, len));
            }
        }
        i += len;
    }
    return out + "\"";
}

} // namespace quarel
