#include "edit/comment_text.hpp"

#include "edit/comments.hpp"
#include "edit/layout.hpp"
#include "parser/lexer.hpp"

namespace quarel {

namespace {

bool is_comment_line(std::string_view line) noexcept {
    return lex::trim_whitespace(line).starts_with('#');
}

} // namespace

Leading divide(std::string_view text, bool opens_document) {
    Leading parts;
    std::string_view rest = text;
    if (!opens_document) {
        std::size_t lf = text.find('\n');
        if (lf != std::string_view::npos) {
            parts.line_end = text.substr(0, lf + 1);
            rest = text.substr(lf + 1);
        } else if (has_comment(text)) {
            parts.line_end = text;
            rest = {};
        }
    }
    std::size_t last = rest.rfind('\n');
    if (last == std::string_view::npos) {
        parts.indent = rest;
        return parts;
    }
    parts.indent = rest.substr(last + 1);
    // Walk up over the comment lines that end right above the indentation.
    std::size_t top = last + 1;
    while (top > 0) {
        std::size_t above = top - 1 == 0 ? 0 : rest.rfind('\n', top - 2);
        std::size_t start = above == std::string_view::npos || top - 1 == 0 ? 0 : above + 1;
        if (!is_comment_line(rest.substr(start, top - 1 - start))) break;
        top = start;
    }
    parts.detached = rest.substr(0, top);
    parts.attached = rest.substr(top, last + 1 - top);
    return parts;
}

std::string_view line_end_comment(std::string_view line_end) noexcept {
    if (!has_comment(line_end)) return {};
    std::size_t lf = line_end.find('\n');
    if (lf == std::string_view::npos) return line_end;
    return line_end.substr(0, lex::break_start(line_end, lf));
}

std::string_view drop_blank_lines(std::string_view text) noexcept {
    for (;;) {
        std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos || !lex::is_all_whitespace(text.substr(0, lf)))
            return text;
        text.remove_prefix(lf + 1);
    }
}

bool starts_line(std::string_view text) noexcept {
    return text.starts_with('\n') || text.starts_with("\r\n");
}

std::string_view final_break(std::string_view text) noexcept {
    if (!text.ends_with('\n')) return {};
    return text.substr(lex::break_start(text, text.size() - 1));
}

std::string prepend_end_comment(std::string_view comment, std::string_view line_break,
                                std::string_view text) {
    std::string out(comment);
    if (!comment.empty() && !starts_line(text)) out += line_break;
    out += text;
    return out;
}

std::string_view find_end_comment(std::string_view after) noexcept {
    return line_end_comment(divide(after, false).line_end);
}

std::string replace_end_comment(std::string_view after, std::string_view comment,
                                std::string_view next_line) {
    const std::string_view line_end = divide(after, false).line_end;
    const std::string_view old = line_end_comment(line_end);
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

std::variant<std::string, EditError> compose_end_comment(std::string_view given) {
    if (given.find_first_of("\r\n") != std::string_view::npos)
        return make_error(ErrorCode::line_break_in_comment);
    if (lex::trim_whitespace(given).empty()) return std::string();
    return comment_line(given);
}

std::string space_end_comment(std::string_view old, std::string_view text) {
    if (text.empty()) return {};
    std::size_t hash = old.find('#');
    std::string out(hash == std::string_view::npos ? end_comment_spacing : old.substr(0, hash));
    return out + std::string(text);
}

} // namespace quarel
