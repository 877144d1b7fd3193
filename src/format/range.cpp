// Formatting a range of lines: the pairs whose key stands on them are
// written by the same walk as the whole document's, in its style (found once
// for the whole document) and with everything inside them; every other
// byte stays, and so do the lines above the range's first. The end of the
// file is formatted when the range reaches its last line.
#include "edit/comment_text.hpp"
#include "format/trivia_text.hpp"
#include "format/writer.hpp"

#include "cst/printer.hpp"

namespace quarel {

// Where formatting starts in the trivia before what a range of lines
// holds: at the range's first line, and not before the line break that
// ends the line of what precedes, unless that was formatted too (an
// end-of-line comment is formatted with the pair it follows).
std::size_t Formatter::range_start(std::string_view text, Gap& gap) const {
    const std::size_t first_break = text.find('\n');
    if (first_break == std::string_view::npos) return 0;
    std::size_t from =
        gap.file_start || previous_formatted_ ? 0 : lex::break_start(text, first_break);
    std::size_t at = 0;
    for (std::size_t line = old_line_; line < options_.lines->first; ++line)
        at = text.find('\n', at) + 1;
    if (at > from) {
        // The comment lines kept before the range are content of the body,
        // and the last line kept may be one of them.
        const std::size_t own_lines = gap.file_start ? 0 : first_break + 1;
        const std::size_t kept_break = at >= 2 ? text.rfind('\n', at - 2) : std::string_view::npos;
        const std::size_t last_kept = kept_break == std::string_view::npos ? 0 : kept_break + 1;
        gap.opens = gap.opens && !has_comment(text.substr(own_lines, at - own_lines));
        gap.after_comment_line =
            last_kept >= own_lines && has_comment(text.substr(last_kept, at - last_kept));
        from = at;
        gap.line_start = true;
    }
    gap.file_start = gap.file_start && from == 0;
    return from;
}

bool Formatter::in_range(std::size_t line) const {
    return options_.lines->first <= line && line <= options_.lines->second;
}

bool Formatter::range_pair(const Pair& pair, std::size_t depth, const Gap& lead) {
    if (!in_range(old_line_ + count_line_feeds(pair.leading))) {
        const bool done = kept(pair, depth);
        previous_formatted_ = false;
        return done;
    }
    Gap from_range = lead;
    std::string_view leading = pair.leading;
    const std::size_t from = range_start(leading, from_range);
    verbatim(leading.substr(0, from));
    whole_ = true;
    const bool done = formatted(pair, depth, from_range, leading.substr(from));
    whole_ = false;
    previous_formatted_ = true;
    return done;
}

// A pair outside the range of lines: its own text stays, the pairs of its
// block are looked at one by one.
bool Formatter::kept(const Pair& pair, std::size_t depth) {
    verbatim(pair.leading);
    put(pair.key);
    verbatim(pair.before_colon);
    put(":");
    verbatim(pair.after_colon);
    const Block* block = block_of(pair.value);
    if (!block) {
        std::string value;
        print_value(pair.value, value);
        verbatim(value);
        return true;
    }
    if (block->name) put(*block->name);
    verbatim(block->before_brace);
    put("{");
    previous_formatted_ = false;
    for (std::size_t i = 0; i < block->body.pairs.size();)
        if (!run(block->body, i, depth + 1, false, false)) return false;
    verbatim(block->body.trailing);
    put("}");
    return true;
}

void Formatter::range_end(std::string_view trailing, Gap& end) {
    std::string_view shown = trailing.substr(0, trailing.size() - trailing.ends_with('\n'));
    const std::size_t last_line = old_line_ + count_line_feeds(shown);
    if (!in_range(last_line)) return verbatim(trailing);
    const std::size_t from = range_start(trailing, end);
    verbatim(trailing.substr(0, from));
    trivia(trailing.substr(from), end);
}

} // namespace quarel
