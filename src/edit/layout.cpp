#include "edit/layout.hpp"

#include "cst/shared.hpp"
#include "parser/lexer.hpp"

#include <utility>
#include <vector>

namespace quarel {

namespace {

// Byte offsets of the opening and closing quote of a string; an unterminated
// string closes at the end of the text.
using Span = std::pair<std::size_t, std::size_t>;

// The quoted strings of Quarel source, found the way the parser finds them:
// quotes inside comments and expressions start nothing. An expression follows
// `key:` for an expression key outside lists (list pairs never hold one).
// For source that does not parse the spans may be off, but only after the
// point where the parser fails.
std::vector<Span> string_spans(std::string_view text) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    std::vector<Span> spans;
    std::size_t list_depth = 0;
    for (const char* p = lex::skip_trivia(begin, end); p < end; p = lex::skip_trivia(p, end)) {
        if (*p == '"') {
            const char* after = lex::skip_quoted(p, end);
            spans.emplace_back(p - begin, after ? after - 1 - begin : text.size());
            if (!after) break;
            p = after;
        } else if (*p == '[') {
            ++list_depth;
            ++p;
        } else if (*p == ']') {
            list_depth -= list_depth > 0;
            ++p;
        } else if (lex::is_bare_char(p, end)) {
            const char* token_end = lex::skip_bare_token(p, end);
            const char* colon = lex::skip_inline_space(token_end, end);
            std::string_view token(p, static_cast<std::size_t>(token_end - p));
            p = token_end;
            if (list_depth == 0 && colon < end && *colon == ':' && lex::is_expr_key(token)) {
                std::size_t stop = std::string_view(colon, end - colon).find(";;");
                if (stop == std::string_view::npos) break;
                p = colon + stop + 2;
            }
        } else {
            ++p; // punctuation, or a character the parser refuses
        }
    }
    return spans;
}

} // namespace

std::string indent_below(std::string_view base_indent) {
    return std::string(base_indent) + "  ";
}

std::string new_line(std::string_view indent) {
    std::string line(1, '\n');
    line += indent;
    return line;
}

std::string_view line_indent(std::string_view text) noexcept {
    std::size_t lf = text.rfind('\n');
    return lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
}

std::string_view leading_spacing(std::string_view leading) noexcept {
    return leading.substr(0, leading.find('#'));
}

std::string_view leading_comments(std::string_view leading) noexcept {
    return leading.substr(leading_spacing(leading).size());
}

std::string_view model_spacing(std::string_view leading) noexcept {
    std::string_view spacing = leading_spacing(leading);
    if (has_line_feed(spacing) || !has_line_feed(leading)) return spacing;
    // Behind an end-of-line comment of what precedes, the pair still starts
    // a line of its own: that line break and indentation are its spacing.
    std::size_t lf = leading.rfind('\n');
    return leading.substr(lf > 0 && leading[lf - 1] == '\r' ? lf - 1 : lf);
}

std::optional<std::string> child_indent(const Body& body, std::string_view base_indent) {
    for (const PairRef& child : body.pairs) {
        ReadGuard guard(child.lock());
        if (!guard) return std::nullopt;
        std::string_view spacing = model_spacing(child->leading);
        if (has_line_feed(spacing)) return std::string(line_indent(spacing));
    }
    return indent_below(base_indent);
}

std::optional<std::string> spacing_near(const Body& body, std::size_t position,
                                        std::string_view base_indent, bool top_level) {
    {
        const PairRef& near = body.pairs[position];
        ReadGuard guard(near.lock());
        if (!guard) return std::nullopt;
        std::string_view spacing = model_spacing(near->leading);
        if (!spacing.empty() && (has_line_feed(spacing) || !top_level)) return std::string(spacing);
    }
    for (auto it = body.pairs.rbegin(); it != body.pairs.rend(); ++it) {
        ReadGuard guard(it->lock());
        if (!guard) return std::nullopt;
        std::string_view spacing = model_spacing((*it)->leading);
        if (has_line_feed(spacing)) return std::string(spacing);
    }
    // No child shows the depth of a line: root children start at the margin,
    // a block's one step below the block.
    if (top_level) return std::string("\n");
    return new_line(indent_below(base_indent));
}

namespace {

// `text` with every line after the first that does not begin inside a
// double-quoted string passed through `change(line, out)`, which appends it.
template <class Change> std::string relined(std::string_view text, Change change) {
    const std::vector<Span> strings = string_spans(text);
    auto span = strings.begin();
    std::string out;
    std::size_t lf = text.find('\n');
    out += text.substr(0, lf);
    while (lf != std::string_view::npos) {
        std::size_t start = lf + 1;
        std::size_t next = text.find('\n', start);
        std::string_view line = text.substr(start, next - start);
        while (span != strings.end() && span->second < lf) ++span;
        bool in_string = span != strings.end() && span->first < lf;
        out += '\n';
        if (in_string)
            out += line;
        else
            change(line, out);
        lf = next;
    }
    return out;
}

} // namespace

std::string reindent(std::string_view text, std::string_view indentation) {
    return relined(text, [&](std::string_view line, std::string& out) {
        if (!lex::is_all_whitespace(line)) out += indentation;
        out += line;
    });
}

std::string outdent(std::string_view text, std::string_view indentation) {
    return relined(text, [&](std::string_view line, std::string& out) {
        if (line.starts_with(indentation)) line.remove_prefix(indentation.size());
        out += line;
    });
}

} // namespace quarel
