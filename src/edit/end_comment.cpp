#include "edit/end_comment.hpp"

#include "edit/comments.hpp"
#include "edit/find.hpp"
#include "edit/layout.hpp"
#include "edit/owners.hpp"
#include "parser/lexer.hpp"

#include <algorithm>

namespace quarel {

namespace {

// The text after the pair at `at`, read under the next pair's lock.
} // namespace

std::optional<std::string> text_at(const Body& body, std::size_t index) {
    if (index == body.pairs.size()) return body.trailing.str();
    const PairRef& pair = body.pairs[index];
    ReadGuard guard(pair.lock());
    if (!guard) return std::nullopt;
    return pair->leading.str();
}

std::string_view end_comment_in(std::string_view after) noexcept {
    return end_comment(divide(after, false).line_end);
}

std::string with_end_comment_in(std::string_view after, std::string_view comment,
                                std::string_view next_line) {
    const std::string_view line_end = divide(after, false).line_end;
    const std::string_view old = end_comment(line_end);
    std::string out(comment);
    if (!old.empty() || comment.empty()) {
        out += after.substr(old.size());
    } else if (!line_end.empty()) {
        // Spaces before the line break give way to the comment.
        out += final_break(line_end);
        out += after.substr(line_end.size());
    } else {
        // `after` is the spacing to what shared the line: that moves down.
        out += next_line;
    }
    return out;
}

std::variant<std::string, EditError> end_comment_text(std::string_view given) {
    if (given.find_first_of("\r\n") != std::string_view::npos)
        return make_error(ErrorCode::line_break_in_comment);
    if (lex::trim_whitespace(given).empty()) return std::string();
    return comment_line(given);
}

std::string spaced_end_comment(std::string_view old, std::string_view text) {
    if (text.empty()) return {};
    std::size_t hash = old.find('#');
    std::string out(hash == std::string_view::npos ? "  " : old.substr(0, hash));
    return out + std::string(text);
}

std::variant<std::optional<std::string>, Busy> end_comment_of(const Body* body, const PairRef& pair,
                                                              std::size_t near) {
    if (std::optional<std::size_t> at = body ? position_of(*body, pair, near) : std::nullopt) {
        std::optional<std::string> after = text_at(*body, *at + 1);
        if (!after) return Busy{};
        return std::string(end_comment_in(*after));
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
        with_end_comment_in(*after, spaced_end_comment(end_comment_in(*after), text), *next_line));
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
