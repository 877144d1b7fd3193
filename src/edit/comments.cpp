#include "edit/comments.hpp"

#include "edit/comment_text.hpp"
#include "edit/layout.hpp"
#include "parser/lexer.hpp"

#include <algorithm>

namespace quarel {

namespace {

// Calls `each` for every part of `text` between line breaks (LF, CR LF or a
// lone CR).
template <class F> void for_each_line(std::string_view text, F&& each) {
    for (;;) {
        std::size_t stop = text.find_first_of("\r\n");
        each(text.substr(0, stop));
        if (stop == std::string_view::npos) return;
        text.remove_prefix(
            stop + std::max<std::size_t>(
                       1, lex::line_break_len(text.data() + stop, text.data() + text.size())));
    }
}

} // namespace

std::string comment_line(std::string_view text) {
    std::string_view line = lex::trim_whitespace(text);
    return line.starts_with('#') ? std::string(line) : "# " + std::string(line);
}

std::vector<std::string> comments_of(std::string_view leading, bool opens_document) {
    std::vector<std::string> comments;
    std::string_view attached = divide(leading, opens_document).attached;
    while (!attached.empty()) {
        std::size_t lf = attached.find('\n');
        comments.emplace_back(lex::trim_whitespace(attached.substr(0, lf)));
        attached.remove_prefix(lf + 1);
    }
    return comments;
}

std::string with_comments(std::string_view old_leading, const std::vector<std::string>& lines,
                          bool opens_document, std::string_view indent, const Style& style) {
    const Leading parts = divide(old_leading, opens_document);
    const bool shares_line = !opens_document && !has_line_feed(old_leading);
    if (shares_line && lines.empty()) return std::string(old_leading);
    std::string leading;
    if (shares_line) {
        leading = style.newline;
    } else {
        leading = parts.line_end;
        leading += parts.detached;
        indent = parts.indent;
    }
    for (const std::string& given : lines) {
        for_each_line(lex::trim_whitespace(given), [&](std::string_view part) {
            leading += indent;
            leading += comment_line(part);
            leading += style.newline;
        });
    }
    leading += indent;
    return leading;
}

} // namespace quarel
