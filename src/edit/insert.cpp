#include "edit/insert.hpp"

#include "edit/comment_text.hpp"
#include "edit/end_comment.hpp"
#include "edit/layout.hpp"
#include "edit/separation.hpp"
#include "edit/snippet.hpp"

#include <algorithm>
#include <iterator>

namespace quarel {

namespace {

// What placing new pairs changes besides the pairs themselves, worked out
// before anything changes.
struct Placement {
    std::string spacing;          // goes in front of the first new pair's own leading
    std::optional<Text> pushed;   // new leading of the existing pair the new ones push down
    std::optional<Text> trailing; // new trailing of the body
};

bool is_named_block(const Value& value) noexcept {
    const Block* block = block_of(value);
    return block && block->name;
}

// An empty body: a block opens onto separate lines, its brace at the depth of
// its key, below a comment on the line of its `{`; the root body keeps a
// header comment above the new pair, and gets a final line break if it had
// nothing at all.
Placement open_body(const Body& body, std::string_view base_indent, bool top_level,
                    const Style& style) {
    Placement placement;
    std::string_view trailing = body.trailing;
    if (!top_level) {
        std::string_view comment = find_end_comment(trailing);
        placement.spacing =
            std::string(comment) + new_line(indent_below(base_indent, style), style);
        trailing.remove_prefix(comment.size());
        if (!has_line_feed(trailing))
            placement.trailing = Text(new_line(base_indent, style));
        else if (!comment.empty())
            placement.trailing = Text(trailing);
    } else if (has_comment(trailing)) {
        // The new pair starts the line below the last comment. Whitespace
        // alone on the last line (a lone CR) moves to the line after the
        // pair: in front of it, it would indent the pair, and a line break
        // put after a lone CR would make a CR LF.
        const std::size_t last_line = trailing.rfind('\n') + 1;
        const std::string_view rest = trailing.substr(last_line);
        const bool ends_line = !has_comment(rest);
        placement.spacing = ends_line ? std::string(trailing.substr(0, last_line))
                                      : std::string(trailing) + style.newline;
        placement.trailing = Text(ends_line ? style.newline + std::string(rest) : "");
    } else if (trailing.empty()) {
        placement.trailing = Text(style.newline);
    }
    return placement;
}

// The new pair takes the first pair's place and spacing, below what ends the
// line of the block's `{` and below comments set off from the first pair (a
// file header); the displaced pair keeps its own comments and gets a
// separation of its own, preferably the second pair's line break.
std::optional<Placement> take_first_place(const Body& body, bool top_level, const Style& style) {
    std::string second;
    if (body.pairs.size() > 1) {
        ReadGuard guard(body.pairs[1].lock());
        if (!guard) return std::nullopt;
        second = model_spacing(body.pairs[1]->leading);
    }
    ReadGuard guard(body.pairs[0].lock());
    if (!guard) return std::nullopt;
    std::string_view leading = body.pairs[0]->leading;
    const Leading parts = divide(leading, top_level);
    // What stays in front: the line end and the detached lines.
    std::string_view front = leading.substr(0, parts.line_end.size() + parts.detached.size());
    std::string_view own = leading.substr(front.size());
    const std::string head = model_spacing(leading);
    std::string_view new_head = has_line_feed(second) ? std::string_view(second)
                                : has_line_feed(head) ? std::string_view(head)
                                : top_level           ? std::string_view(style.newline)
                                : !head.empty()       ? std::string_view(head)
                                                      : " ";
    // A pair on a line of its own moves down with its lines whole, at their
    // own indentation.
    const bool own_line = top_level || has_line_feed(leading);
    std::string pushed =
        own_line && has_line_feed(new_head) && !own.empty()
            ? std::string(new_head.substr(0, new_head.rfind('\n') + 1)) + std::string(own)
            : std::string(new_head) + std::string(leading_comments(own));
    return Placement{std::string(front) + std::string(parts.indent), Text(pushed), std::nullopt};
}

// The spacing for `pair` in the gap at `at` (0 < at): that of the nearest
// sibling with the same key, else of the nearest one that is a block exactly
// when `pair` is, nearer before the gap than after. The first pair never
// serves, its spacing answering to what precedes the body. Without a model a
// named block arriving among other kinds is set off by a blank line.
std::optional<std::string> spacing_among(const Body& body, std::size_t at, const Pair& pair,
                                         std::string_view base_indent, bool top_level,
                                         const Style& style) {
    const std::size_t n = body.pairs.size();
    const bool is_block = block_of(pair.value) != nullptr;
    std::optional<std::size_t> same_key, same_kind;
    auto consider = [&](std::size_t position) {
        const PairRef& sibling = body.pairs[position];
        ReadGuard guard(sibling.lock());
        if (!guard) return false;
        if (sibling->key.view() == pair.key.view())
            same_key = position;
        else if (!same_kind && (block_of(sibling->value) != nullptr) == is_block)
            same_kind = position;
        return true;
    };
    // Candidates by distance from the gap: at-1, at, at-2, at+1, ...
    for (std::size_t k = 1; !same_key && (k < at || at + k - 1 < n); ++k) {
        if (k < at && !consider(at - k)) return std::nullopt;
        if (!same_key && at + k - 1 < n && !consider(at + k - 1)) return std::nullopt;
    }
    if (std::optional<std::size_t> model = same_key ? same_key : same_kind)
        return spacing_near(body, *model, base_indent, top_level, style);
    std::optional<std::string> spacing = spacing_near(body, at - 1, base_indent, top_level, style);
    if (spacing && is_named_block(pair.value) &&
        std::count(spacing->begin(), spacing->end(), '\n') == 1)
        spacing->insert(0, style.newline);
    return spacing;
}

// The pair before the gap at `at` keeps the comment that ends its line: the
// new pairs go below it, on a line of their own.
std::optional<Placement> below_end_comment(const Body& body, std::size_t at, std::string spacing,
                                           std::string_view base_indent, bool top_level,
                                           const Style& style) {
    Placement placement{std::move(spacing), std::nullopt, std::nullopt};
    const std::optional<std::string> next = text_at(body, at);
    if (!next) return std::nullopt;
    std::string_view line_end = divide(*next, false).line_end;
    std::string_view comment = line_end_comment(line_end);
    if (comment.empty()) return placement;
    // The comment ends at its line break, so the spacing must start with one.
    std::string& before = placement.spacing;
    if (!starts_line(before)) {
        std::string line_break(line_end.substr(comment.size()));
        if (line_break.empty()) line_break = style.newline;
        std::size_t lf = before.find('\n');
        if (lf != std::string::npos) {
            before = line_break + before.substr(lf + 1);
        } else {
            std::optional<std::string> indent = child_indent(body, base_indent, top_level, style);
            if (!indent) return std::nullopt;
            before = line_break + *indent;
        }
    }
    before.insert(0, comment);
    Text rest(std::string_view(*next).substr(comment.size()));
    if (at < body.pairs.size())
        placement.pushed = std::move(rest);
    else
        placement.trailing = std::move(rest);
    return placement;
}

std::optional<Placement> plan(const Body& body, std::size_t at, const Pair& first, const Pair& last,
                              std::string_view base_indent, bool top_level, const Style& style) {
    if (body.pairs.empty()) return open_body(body, base_indent, top_level, style);
    if (at == 0) return take_first_place(body, top_level, style);
    std::optional<std::string> spacing =
        spacing_among(body, at, first, base_indent, top_level, style);
    if (!spacing) return std::nullopt;
    std::optional<Placement> placement =
        below_end_comment(body, at, std::move(*spacing), base_indent, top_level, style);
    if (!placement || placement->pushed || at == body.pairs.size()) return placement;
    const PairRef& next = body.pairs[at];
    ReadGuard guard(next.lock());
    if (!guard) return std::nullopt;
    if (needs_separation(last.value, next->leading)) placement->pushed = Text(" ");
    return placement;
}

// The text after the last new pair with `end_comment` ending its line.
std::optional<Text> ending_line(const Body& body, std::size_t at, const Placement& placement,
                                std::string_view end_comment, std::string_view base_indent,
                                bool top_level, const Style& style) {
    const bool pair_follows = at < body.pairs.size();
    std::optional<std::string> after;
    if (placement.pushed)
        after = placement.pushed->str();
    else if (!pair_follows && placement.trailing)
        after = placement.trailing->str();
    else if (!(after = text_at(body, at)))
        return std::nullopt;
    std::optional<std::string> next_line =
        next_line_after(body, pair_follows, base_indent, top_level, style);
    if (!next_line) return std::nullopt;
    return Text(replace_end_comment(*after, end_comment, *next_line));
}

} // namespace

std::optional<std::vector<PairRef>> place_pairs(Body& body, std::size_t index,
                                                std::vector<PairRef> fresh,
                                                std::string_view base_indent, bool top_level,
                                                const Style& style, std::string_view end_comment) {
    const std::size_t at = std::min(index, body.pairs.size());
    Pair& first = *fresh.front();
    std::optional<Placement> placement =
        plan(body, at, first, *fresh.back(), base_indent, top_level, style);
    if (!placement) return std::nullopt;
    if (!end_comment.empty()) {
        std::optional<Text> after =
            ending_line(body, at, *placement, end_comment, base_indent, top_level, style);
        if (!after) return std::nullopt;
        (at < body.pairs.size() ? placement->pushed : placement->trailing) = std::move(*after);
    }
    // Comments that open a snippet go on a line of their own above its first
    // pair, not at the end of the line before it.
    if (has_comment(first.leading) && !has_line_feed(placement->spacing) &&
        !(top_level && at == 0)) {
        std::optional<std::string> indent = child_indent(body, base_indent, top_level, style);
        if (!indent) return std::nullopt;
        placement->spacing = new_line(*indent, style);
    }
    std::optional<WriteGuard> pushed_guard;
    if (placement->pushed) {
        pushed_guard.emplace(body.pairs[at].lock());
        if (!*pushed_guard) return std::nullopt;
    }
    Text leading(placement->spacing + first.leading.str());
    body.pairs.insert(body.pairs.begin() + at, fresh.begin(), fresh.end());
    // Nothing below allocates, so the placement happens whole or not at all.
    first.leading = std::move(leading);
    if (placement->pushed) body.pairs[at + fresh.size()]->leading = std::move(*placement->pushed);
    if (placement->trailing) body.trailing = std::move(*placement->trailing);
    return fresh;
}

std::optional<PairRef> insert(Body& body, std::size_t index, Pair pair,
                              std::string_view base_indent, bool top_level, const Style& style) {
    pair.leading = Text();
    std::optional<std::vector<PairRef>> placed =
        place_pairs(body, index, {PairRef::make(std::move(pair))}, base_indent, top_level, style);
    if (!placed) return std::nullopt;
    return std::move(placed->front());
}

std::variant<std::vector<PairRef>, ParseError, Busy>
insert_source(Body& body, std::size_t index, std::string_view source, std::string_view base_indent,
              bool top_level, int depth, const Style& style) {
    std::optional<std::string> indentation = child_indent(body, base_indent, top_level, style);
    if (!indentation) return Busy{};
    std::variant<Body, ParseError> parsed = parse(fit_snippet(source, *indentation, style), depth);
    if (auto* error = std::get_if<ParseError>(&parsed)) return std::move(*error);
    // The snippet's pairs are fresh handles that nothing else holds; what
    // follows its last pair is dropped.
    ArenaVector<PairRef>& parsed_pairs = std::get<Body>(parsed).pairs;
    std::vector<PairRef> pairs(std::make_move_iterator(parsed_pairs.begin()),
                               std::make_move_iterator(parsed_pairs.end()));
    if (pairs.empty()) return pairs;
    std::optional<std::vector<PairRef>> placed =
        place_pairs(body, index, std::move(pairs), base_indent, top_level, style);
    if (!placed) return Busy{};
    return std::move(*placed);
}

} // namespace quarel
