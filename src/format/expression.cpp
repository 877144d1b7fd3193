// The lines of an expression after its key's keep their indentation
// relative to the key's line: counted in columns (a tab to the next multiple
// of four), whole old steps become new ones and what is left over, less
// than a step, aligns in spaces; so no tab is left among spaces, nor a
// whole step of spaces among tabs. A line indented less than the key's
// keeps its indentation (in columns of spaces in a file of spaces). The whitespace around the text
// keeps its line breaks, and is a space on the line of the colon or of the text's end. Lines that
// start inside a literal keep their bytes (expression_lines.hpp).
#include "format/expression_lines.hpp"
#include "format/trivia_text.hpp"
#include "format/width.hpp"
#include "format/writer.hpp"

#include <algorithm>
#include <string>

namespace quarel {

namespace {

// The columns an indentation reaches.
std::size_t indent_columns(std::string_view indent) noexcept {
    std::size_t at = 0;
    for (char c : indent) at = c == '\t' ? (at / tab_columns + 1) * tab_columns : at + 1;
    return at;
}

} // namespace

void Formatter::reindent(std::string_view old, std::string_view key_old, std::string_view key_new) {
    const std::size_t line = indent_columns(old);
    const std::size_t key = indent_columns(key_old);
    if (line < key) {
        if (style_.step == "\t") return put(old);
        return void(out.append(line, ' '));
    }
    const std::size_t step = std::max<std::size_t>(indent_columns(style_.old_step), 1);
    put(key_new);
    for (std::size_t n = (line - key) / step; n > 0; --n) put(style_.step);
    out.append((line - key) % step, ' ');
}

void Formatter::edge(std::string_view space, std::string_view on_line, std::string_view key_old,
                     std::string_view key_new) {
    pass(space);
    const std::size_t last = last_line_start(space);
    if (last == 0) return put(on_line);
    for (std::size_t n = count_line_breaks(space); n > 0; --n) line_break();
    reindent(indentation(space.substr(last)), key_old, key_new);
}

void Formatter::expression(const Pair& pair, const Expr& expr) {
    const std::string_view key_old = old_indent_;
    // Copied out of the text it extends, and only for an expression of lines.
    const bool lines = last_line_start(pair.after_colon) ||
                       expr.text.view().find('\n') != std::string_view::npos ||
                       last_line_start(expr.trailing);
    const std::string key_new(lines ? indentation(std::string_view(out).substr(line_start_))
                                    : std::string_view());
    edge(pair.after_colon, " ", key_old, key_new);
    pass(expr.text);
    ExpressionLines text(pair.key, expr.text);
    for (bool first = true; auto line = text.next(); first = false) {
        std::string_view rest = line->text;
        if (line->verbatim) {
            put_source(line->line_break);
        } else if (!first) {
            line_break();
            const std::string_view own = indentation(rest);
            reindent(own, key_old, key_new);
            rest.remove_prefix(own.size());
        }
        put(rest);
    }
    edge(expr.trailing, expr.text.empty() ? "" : " ", key_old, key_new);
    put(";;");
}

} // namespace quarel
