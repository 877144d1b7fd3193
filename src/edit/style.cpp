#include "edit/style.hpp"

#include "edit/layout.hpp"
#include "parser/lexer.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace quarel {

namespace {

// Finds the first line break of the layout in print order: the text of
// strings and expressions is the user's, not the file's layout. A carriage
// return before it lies in the same text: no text ends in one that the next
// begins with LF.
class FirstBreak {
  public:
    std::optional<std::string> found;

    bool in(std::string_view text) {
        std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) return false;
        found = lex::break_start(text, lf) < lf ? "\r\n" : "\n";
        return true;
    }
    bool in(const List& list) {
        for (const ListItem& item : list.items)
            if (in(item.leading) || in(item.value) || (item.before_comma && in(*item.before_comma)))
                return true;
        return in(list.trailing);
    }
    bool in(const ListValue& value) {
        if (auto* l = std::get_if<Boxed<List>>(&value)) return in(**l);
        if (auto* p = std::get_if<Boxed<ListPair>>(&value))
            return in((*p)->before_colon) || in((*p)->after_colon) || in((*p)->value);
        return false;
    }
    bool in(const Value& value) {
        if (const Expr* e = expr_of(value)) return in(e->trailing);
        if (const List* l = list_of(value)) return in(*l);
        if (const Block* b = block_of(value)) return in(b->before_brace) || in(b->body);
        return false;
    }
    bool in(const Body& body) {
        for (const PairRef& pair : body.pairs) {
            ReadGuard guard(pair.lock());
            if (guard && (in(pair->leading) || in(pair->before_colon) || in(pair->after_colon) ||
                          in(pair->value)))
                return true;
        }
        return in(body.trailing);
    }
};

// Pairs and nested blocks looked at for the step: a flat document of a
// million pairs must not be read through on every edit, and a few blocks
// tell the step a file keeps to, past one that is indented oddly.
constexpr int step_search_limit = 256;
constexpr std::size_t step_samples = 5;

// The indentation that the first child of `block`, on a line of its own,
// adds to `own`, the indentation of the block's line.
void collect_step(const Block& block, std::string_view own, std::vector<std::string>& steps) {
    for (const PairRef& child : block.body.pairs) {
        ReadGuard guard(child.lock());
        if (!guard) return;
        std::string spacing = model_spacing(child->leading);
        if (!has_line_feed(spacing)) continue;
        std::string_view indent = line_indent(spacing);
        if (indent.size() > own.size() && indent.starts_with(own))
            steps.emplace_back(indent.substr(own.size()));
        return;
    }
}

// The steps of the blocks under `body`, depth first, until enough are seen.
// Only a block whose key starts a line (after a line break, or at the top of
// the document) shows that line's indentation: one sharing the line of what
// precedes it, in a block opened on that line, would show its children's
// indentation as a step of two levels.
void collect_steps(const Body& body, bool top_level, int& budget, std::vector<std::string>& steps) {
    for (const PairRef& pair : body.pairs) {
        if (--budget < 0 || steps.size() == step_samples) return;
        ReadGuard guard(pair.lock());
        if (!guard) continue;
        const Block* block = block_of(pair->value);
        if (!block) continue;
        std::string_view leading = pair->leading;
        if (has_line_feed(leading))
            collect_step(*block, line_indent(leading), steps);
        else if (top_level && pair.same(body.pairs.front()))
            collect_step(*block, leading, steps);
        collect_steps(block->body, false, budget, steps);
    }
}

} // namespace

std::optional<std::string> shown_step(const Body& root) {
    int budget = step_search_limit;
    std::vector<std::string> steps;
    collect_steps(root, true, budget, steps);
    // The most frequent; the first seen among equals.
    std::optional<std::string> shown;
    std::size_t best = 0;
    for (const std::string& step : steps) {
        std::size_t count = static_cast<std::size_t>(std::count(steps.begin(), steps.end(), step));
        if (count > best) {
            best = count;
            shown = step;
        }
    }
    return shown;
}

std::optional<std::string> shown_newline(const Body& root) {
    FirstBreak first;
    first.in(root);
    return first.found;
}

Style infer_style(const Body& root) {
    Style style;
    if (std::optional<std::string> newline = shown_newline(root)) style.newline = *newline;
    if (std::optional<std::string> step = shown_step(root)) style.step = std::move(*step);
    return style;
}

} // namespace quarel
