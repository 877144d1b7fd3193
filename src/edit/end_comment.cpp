#include "edit/end_comment.hpp"

#include "edit/comment_text.hpp"
#include "edit/find.hpp"
#include "edit/layout.hpp"

namespace quarel {

std::optional<std::string> text_at(const Body& body, std::size_t index) {
    if (index == body.pairs.size()) return body.trailing.str();
    const PairRef& pair = body.pairs[index];
    ReadGuard guard(pair.lock());
    if (!guard) return std::nullopt;
    return pair->leading.str();
}

std::variant<std::optional<std::string>, Busy> end_comment_of(const Body* body, const PairRef& pair,
                                                              std::size_t near) {
    if (std::optional<std::size_t> at = body ? position_of(*body, pair, near) : std::nullopt) {
        std::optional<std::string> after = text_at(*body, *at + 1);
        if (!after) return Busy{};
        return std::string(find_end_comment(*after));
    }
    ReadGuard guard(pair.lock());
    if (!guard) return Busy{};
    if (!pair->loose_end) return std::nullopt;
    return pair->loose_end->str();
}

std::optional<std::string> next_line_after(const Body& body, bool pair_follows,
                                           std::string_view base_indent, bool top_level,
                                           const Style& style) {
    if (pair_follows) {
        std::optional<std::string> indent = child_indent(body, base_indent, top_level, style);
        if (!indent) return std::nullopt;
        return new_line(*indent, style);
    }
    if (top_level) return std::string();
    return new_line(base_indent, style);
}

std::variant<bool, Busy> set_end_comment(Body& body, const PairRef& pair, std::string_view text,
                                         std::string_view base_indent, bool top_level,
                                         const Style& style, std::size_t near) {
    std::optional<std::size_t> at = position_of(body, pair, near);
    if (!at) return false;
    std::optional<std::string> after = text_at(body, *at + 1);
    std::optional<std::string> next_line =
        after ? next_line_after(body, *at + 1 < body.pairs.size(), base_indent, top_level, style)
              : std::nullopt;
    if (!next_line) return Busy{};
    Text updated(
        replace_end_comment(*after, space_end_comment(find_end_comment(*after), text), *next_line));
    if (*at + 1 == body.pairs.size()) {
        body.trailing = std::move(updated);
        return true;
    }
    const PairRef& next = body.pairs[*at + 1];
    WriteGuard guard(next.lock());
    if (!guard) return Busy{};
    next->leading = std::move(updated);
    return true;
}

} // namespace quarel
