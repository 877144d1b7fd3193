#include "edit/style.hpp"

#include "cst/trivia.hpp"
#include "edit/layout.hpp"
#include "parser/lexer.hpp"

#include <string_view>
#include <utility>
#include <vector>

namespace quarel {

namespace {

// Counts of each candidate, in the order first seen.
class Votes {
  public:
    void add(std::string_view candidate) {
        for (auto& [seen, count] : counts_)
            if (seen == candidate) return void(++count);
        counts_.emplace_back(std::string(candidate), 1);
    }
    // The most voted; the first seen among equals.
    std::optional<std::string> winner() const {
        const std::pair<std::string, std::size_t>* best = nullptr;
        for (const auto& entry : counts_)
            if (!best || entry.second > best->second) best = &entry;
        if (!best) return std::nullopt;
        return best->first;
    }

  private:
    std::vector<std::pair<std::string, std::size_t>> counts_;
};

// The LF and CR LF line breaks of the layout, and of the expressions.
struct BreakVotes {
    Votes layout, expressions;

    void slot(Slot slot, const Text& text) {
        Votes& votes = slot == Slot::expression ? expressions : layout;
        const std::string_view view = text.view();
        for (std::size_t lf = view.find('\n'); lf != std::string_view::npos;
             lf = view.find('\n', lf + 1))
            votes.add(lf > 0 && view[lf - 1] == '\r' ? "\r\n" : "\n");
    }
};

// Each pair on a line of its own in a block votes for what its indentation
// adds to that of the block's line; `own` is that, unknown at the top and
// for a block that shares the line of what precedes it (its children would
// show two steps).
void vote_steps(const Body& body, std::optional<std::string_view> own, bool top, Votes& steps) {
    for (const PairRef& pair : body.pairs) {
        ReadGuard guard(pair.lock());
        if (!guard) continue;
        std::string_view leading = pair->leading;
        const bool starts_line = has_line_feed(leading);
        const std::string_view indent = line_indent(leading);
        if (own && starts_line && indent.size() > own->size() && indent.starts_with(*own))
            steps.add(indent.substr(own->size()));
        const Block* block = block_of(pair->value);
        if (!block) continue;
        std::optional<std::string_view> line;
        if (starts_line)
            line = indent;
        else if (top && pair.same(body.pairs.front()))
            line = leading; // the document's first pair: its leading is all indentation
        vote_steps(block->body, line, false, steps);
    }
}

} // namespace

ShownStyle shown_style(const Body& root) {
    BreakVotes breaks;
    visit_trivia(breaks, root);
    Votes steps;
    vote_steps(root, std::nullopt, true, steps);
    ShownStyle shown{breaks.layout.winner(), steps.winner()};
    if (!shown.newline) shown.newline = breaks.expressions.winner();
    return shown;
}

Style infer_style(const Body& root) {
    ShownStyle shown = shown_style(root);
    Style style;
    if (shown.newline) style.newline = std::move(*shown.newline);
    if (shown.step) style.step = std::move(*shown.step);
    return style;
}

} // namespace quarel
