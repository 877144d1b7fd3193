#include "edit/separation.hpp"

#include "edit/find.hpp"

#include "parser/lexer.hpp"

#include <algorithm>

namespace quarel {

namespace {

// Only a literal can end in a bare-token character: the other values end in
// a quote, `;;`, `]` or `}`.
bool ends_in_token(const Value& value) noexcept {
    const auto* literal = std::get_if<Literal>(&value);
    if (!literal || literal->text.empty()) return false;
    std::string_view text = literal->text;
    std::size_t last = text.size() - 1;
    while (last > 0 && (static_cast<unsigned char>(text[last]) & 0xC0) == 0x80) --last;
    return lex::is_bare_char(text.data() + last, text.data() + text.size());
}

} // namespace

bool needs_separation(const Value& value, std::string_view leading) noexcept {
    return leading.empty() && ends_in_token(value);
}

bool separate_after(Body& body, const PairRef& pair, const Value& value, std::size_t near) {
    if (!ends_in_token(value)) return true;
    const std::optional<std::size_t> at = position_of(body, pair, near);
    if (!at || *at + 1 == body.pairs.size()) return true;
    const PairRef& next = body.pairs[*at + 1];
    WriteGuard guard(next.lock());
    if (!guard) return false;
    if (next->leading.empty()) next->leading = Text(" ");
    return true;
}

} // namespace quarel
