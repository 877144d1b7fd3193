#include "edit/comments.hpp"

#include "edit/layout.hpp"
#include "parser/lexer.hpp"

namespace quarel {

namespace {

// Calls `each` for every part of `text` between line breaks (LF, CR LF or a
// lone CR).
template <class F> void for_each_line(std::string_view text, F&& each) {
    for (;;) {
        std::size_t stop = text.find_first_of("\r\n");
        each(text.substr(0, stop));
        if (stop == std::string_view::npos) return;
        bool crlf = text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n';
        text.remove_prefix(stop + (crlf ? 2 : 1));
    }
}

} // namespace

std::vector<std::string> comments_of(std::string_view leading) {
    std::vector<std::string> comments;
    for (;;) {
        std::size_t lf = leading.find('\n');
        std::string_view line = lex::trim_whitespace(leading.substr(0, lf));
        if (line.starts_with('#')) comments.emplace_back(line);
        if (lf == std::string_view::npos) return comments;
        leading.remove_prefix(lf + 1);
    }
}

std::string with_comments(std::string_view old_leading, const std::vector<std::string>& lines,
                          bool document_first) {
    const std::string_view indent = line_indent(old_leading);
    std::string_view spacing = leading_spacing(old_leading);
    // The spacing up to its last line feed (npos + 1 is 0: none without one).
    std::string_view head = spacing.substr(0, spacing.rfind('\n') + 1);
    // Without its comments the pair must not join the line above it, nor
    // touch the value before it.
    if (!document_first && has_line_feed(old_leading) && !has_line_feed(head)) head = "\n";
    std::string leading(head);
    leading += indent;
    for (const std::string& given : lines) {
        for_each_line(lex::trim_whitespace(given), [&](std::string_view part) {
            std::string_view line = lex::trim_whitespace(part);
            if (!line.starts_with('#')) leading += "# ";
            leading += line;
            leading += '\n';
            leading += indent;
        });
    }
    if (!document_first && leading.empty() && !old_leading.empty()) return " ";
    return leading;
}

} // namespace quarel
