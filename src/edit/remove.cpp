#include "edit/remove.hpp"

#include "edit/layout.hpp"
#include "edit/separation.hpp"
#include "parser/lexer.hpp"

#include <algorithm>
#include <optional>

namespace quarel {

namespace {

// A removed pair's leading, split where the line above it ends. A comment
// before that line break ends the line above (or the block's `{` line), so
// it belongs there and stays in the body.
struct LineEnd {
    std::string_view comment;    // that end of line, when it holds a comment
    std::string_view line_break; // the LF or CR LF after it
    std::string_view rest;       // the leading after it, or all of it without such a comment
};

LineEnd split_line_end(std::string_view leading) {
    std::size_t lf = leading.find('\n');
    if (lf == std::string_view::npos) return {{}, {}, leading};
    std::size_t eol = lf > 0 && leading[lf - 1] == '\r' ? lf - 1 : lf;
    std::string_view line = leading.substr(0, eol);
    if (line.find('#') == std::string_view::npos) return {{}, {}, leading};
    return {line, leading.substr(eol, lf + 1 - eol), leading.substr(lf + 1)};
}

bool starts_with_line_break(std::string_view text) noexcept {
    return text.starts_with('\n') || text.starts_with("\r\n");
}

// `text`, which now follows the gap, with the kept comment in front of it and
// the comment's line break where `text` has none to end it.
std::string after_kept(const LineEnd& end, std::string text) {
    if (end.comment.empty()) return text;
    std::string_view line_break = starts_with_line_break(text) ? "" : end.line_break;
    return std::string(end.comment) + std::string(line_break) + text;
}

} // namespace

Removal remove_pair(Body& body, const PairRef& pair, bool top_level) {
    auto it = std::find_if(body.pairs.begin(), body.pairs.end(),
                           [&](const PairRef& p) { return p.same(pair); });
    if (it == body.pairs.end()) return Removal::absent;
    const auto at = static_cast<std::size_t>(it - body.pairs.begin());
    std::string leading;
    {
        ReadGuard guard(pair.lock());
        if (!guard) return Removal::busy;
        leading = pair->leading.str();
    }
    // The document's very first pair has no line above it.
    const LineEnd end = top_level && at == 0 ? LineEnd{{}, {}, leading} : split_line_end(leading);

    std::optional<Text> next_leading; // of the pair moving into the gap, when it changes
    std::optional<Text> trailing;
    if (at + 1 == body.pairs.size()) {
        std::string text = after_kept(end, body.trailing.str());
        // An emptied block closes up to `{}` unless comments remain inside.
        if (!top_level && at == 0 && lex::is_all_whitespace(text)) text.clear();
        if (text != body.trailing.view()) trailing = Text(text);
    } else {
        const PairRef& next = body.pairs[at + 1];
        std::string own;
        {
            ReadGuard guard(next.lock());
            if (!guard) return Removal::busy;
            own = next->leading.str();
        }
        // A pair moving up to the first place keeps its comments behind the
        // spacing of the pair that left.
        std::string text =
            at == 0 ? std::string(leading_spacing(end.rest)) + std::string(leading_comments(own))
                    : own;
        text = after_kept(end, std::move(text));
        // Only an empty leading lets the value before the gap reach the key.
        if (at > 0 && text.empty()) {
            const PairRef& previous = body.pairs[at - 1];
            ReadGuard guard(previous.lock());
            if (!guard) return Removal::busy;
            if (needs_separation(previous->value, text)) text = " ";
        }
        if (text != own) next_leading = Text(text);
    }

    std::optional<WriteGuard> next_guard;
    if (next_leading) {
        next_guard.emplace(body.pairs[at + 1].lock());
        if (!*next_guard) return Removal::busy;
        body.pairs[at + 1]->leading = std::move(*next_leading);
    }
    if (trailing) body.trailing = std::move(*trailing);
    body.pairs.erase(it);
    return Removal::removed;
}

} // namespace quarel
