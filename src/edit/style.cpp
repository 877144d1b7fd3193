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

// Counts of LF and of CR LF line breaks, and which came first.
struct Breaks {
    std::size_t lf = 0, crlf = 0;
    bool crlf_first = false;

    void count(std::string_view text) {
        for (std::size_t at = text.find('\n'); at != std::string_view::npos;
             at = text.find('\n', at + 1)) {
            const bool cr = at > 0 && text[at - 1] == '\r';
            if (lf + crlf == 0) crlf_first = cr;
            ++(cr ? crlf : lf);
        }
    }
    // The most frequent; the first seen among equals.
    std::optional<std::string> winner() const {
        if (lf + crlf == 0) return std::nullopt;
        return crlf > lf || (crlf == lf && crlf_first) ? "\r\n" : "\n";
    }
};

// The line breaks of the layout, and of the expressions.
struct BreakVotes {
    Breaks layout, expressions;
    void slot(Slot slot, const Text& text) {
        (slot == Slot::expression ? expressions : layout).count(text.view());
    }
};

// What the line of a pair's key starts with, as editors show it: its
// leading after the last line break (a lone CR is one to them too, and in a
// step it would break every line indented by it), all of it for the
// document's first pair, which starts the first line.
std::string_view shown_indent(std::string_view leading) noexcept {
    const std::size_t at = leading.find_last_of("\r\n");
    return at == std::string_view::npos ? leading : leading.substr(at + 1);
}

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
        const std::string_view indent = shown_indent(leading);
        if (own && starts_line && indent.size() > own->size() && indent.starts_with(*own))
            steps.add(indent.substr(own->size()));
        const Block* block = block_of(pair->value);
        if (!block) continue;
        std::optional<std::string_view> line;
        if (starts_line || (top && pair.same(body.pairs.front()))) line = indent;
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
