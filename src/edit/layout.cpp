#include "edit/layout.hpp"

#include "parser/lexer.hpp"

namespace quarel {

std::string indent_below(std::string_view base_indent, const Style& style) {
    return std::string(base_indent) + style.step;
}

std::string new_line(std::string_view indent, const Style& style) {
    return style.newline + std::string(indent);
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

std::string model_spacing(std::string_view leading) {
    std::string_view spacing = leading_spacing(leading);
    if (spacing.size() == leading.size()) return std::string(spacing);
    // Below comment lines the pair's own line starts after the last line break.
    if (has_line_feed(spacing))
        return std::string(spacing.substr(0, spacing.rfind('\n') + 1)) +
               std::string(line_indent(leading));
    // Behind an end-of-line comment of what precedes, the pair still starts
    // a line of its own: that line break and indentation are its spacing.
    std::size_t lf = leading.rfind('\n');
    if (lf == std::string_view::npos) return std::string(spacing);
    return std::string(leading.substr(lex::break_start(leading, lf)));
}

std::optional<std::string> child_indent(const Body& body, std::string_view base_indent,
                                        bool top_level, const Style& style) {
    if (top_level) return std::string();
    for (const PairRef& child : body.pairs) {
        ReadGuard guard(child.lock());
        if (!guard) return std::nullopt;
        std::string spacing = model_spacing(child->leading);
        if (has_line_feed(spacing)) return std::string(line_indent(spacing));
    }
    return indent_below(base_indent, style);
}

std::optional<std::string> spacing_near(const Body& body, std::size_t position,
                                        std::string_view base_indent, bool top_level,
                                        const Style& style) {
    {
        const PairRef& near = body.pairs[position];
        ReadGuard guard(near.lock());
        if (!guard) return std::nullopt;
        std::string spacing = model_spacing(near->leading);
        if (!spacing.empty() && (has_line_feed(spacing) || !top_level)) return spacing;
    }
    for (auto it = body.pairs.rbegin(); it != body.pairs.rend(); ++it) {
        ReadGuard guard(it->lock());
        if (!guard) return std::nullopt;
        std::string spacing = model_spacing((*it)->leading);
        if (has_line_feed(spacing)) return spacing;
    }
    // No child shows the depth of a line: root children start at the margin,
    // a block's one step below the block.
    if (top_level) return style.newline;
    return new_line(indent_below(base_indent, style), style);
}

} // namespace quarel
