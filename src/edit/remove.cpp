#include "edit/remove.hpp"

#include "edit/comment_text.hpp"
#include "edit/find.hpp"
#include "edit/layout.hpp"
#include "edit/separation.hpp"
#include "parser/lexer.hpp"

#include <algorithm>
#include <optional>

namespace quarel {

namespace {

// The text that follows the gap a removed pair leaves: what stays of the
// pair's leading, joined to `next`, the leading of the pair after it or the
// body's trailing. The pair takes its own comment lines and the comment
// that ends its line; the end of the line above it stays, and so do comments
// set off from it by a blank line (a file header, a section heading).
std::string close_gap(std::string_view leading, std::string_view next, bool first,
                      bool opens_document) {
    const Leading own = divide(leading, opens_document);
    const Leading after = divide(next, false);
    const bool next_on_its_line = has_line_feed(next) || has_comment(next);
    // Behind what precedes it on its line, the pair leaves that line as it
    // was: the next pair keeps its own place.
    if (!opens_document && !has_line_feed(leading)) {
        if (!next_on_its_line) return std::string(first ? leading : next);
        return std::string(next.substr(line_end_comment(after.line_end).size()));
    }
    std::string_view next_lines = next.substr(after.line_end.size());
    // The pair moving up to the first place takes the spacing of the one
    // that left; so does a pair that would otherwise lose its distance from
    // the comments left standing.
    if (first || has_comment(own.detached)) {
        std::string text(own.line_end);
        text += own.detached;
        text += next_on_its_line ? drop_blank_lines(next_lines) : own.indent;
        return text;
    }
    if (!next_on_its_line) {
        std::string_view comment = line_end_comment(own.line_end);
        return prepend_end_comment(comment, own.line_end.substr(comment.size()), next);
    }
    return std::string(own.line_end) + std::string(next_lines);
}

} // namespace

Removal remove_pair(Body& body, const PairRef& pair, bool top_level, std::size_t near) {
    const std::optional<std::size_t> found = position_of(body, pair, near);
    if (!found) return Removal::absent;
    const std::size_t at = *found;
    std::string leading;
    {
        ReadGuard guard(pair.lock());
        if (!guard) return Removal::busy;
        leading = pair->leading.str();
    }
    const bool opens_document = top_level && at == 0;

    std::optional<Text> next_leading; // of the pair moving into the gap, when it changes
    std::optional<Text> trailing;
    OptionalText loose_end;
    if (at + 1 == body.pairs.size()) {
        std::string_view old = body.trailing;
        loose_end = Text(find_end_comment(old));
        std::string text = close_gap(leading, old, at == 0, opens_document);
        // A document that ended with a line break still does.
        if (top_level && final_break(text).empty()) text += final_break(old);
        // An emptied block closes up to `{}` unless comments remain inside.
        if (!top_level && at == 0 && lex::is_all_whitespace(text)) text.clear();
        if (text != old) trailing = Text(text);
    } else {
        const PairRef& next = body.pairs[at + 1];
        std::string own;
        {
            ReadGuard guard(next.lock());
            if (!guard) return Removal::busy;
            own = next->leading.str();
        }
        loose_end = Text(find_end_comment(own));
        std::string text = close_gap(leading, own, at == 0, opens_document);
        // Only an empty leading lets the value before the gap reach the key.
        if (at > 0 && text.empty()) {
            const PairRef& previous = body.pairs[at - 1];
            ReadGuard guard(previous.lock());
            if (!guard) return Removal::busy;
            if (needs_separation(previous->value, text)) text = " ";
        }
        if (text != own) next_leading = Text(text);
    }

    WriteGuard pair_guard(pair.lock());
    if (!pair_guard) return Removal::busy;
    std::optional<WriteGuard> next_guard;
    if (next_leading) {
        next_guard.emplace(body.pairs[at + 1].lock());
        if (!*next_guard) return Removal::busy;
        body.pairs[at + 1]->leading = std::move(*next_leading);
    }
    if (trailing) body.trailing = std::move(*trailing);
    pair->loose_end = std::move(loose_end);
    body.pairs.erase(body.pairs.begin() + at);
    return Removal::removed;
}

} // namespace quarel
