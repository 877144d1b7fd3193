#include "format/writer.hpp"

#include "format/check.hpp"
#include "format/trivia_text.hpp"

#include <algorithm>
#include <utility>

namespace quarel {

Formatter::Formatter(const FormatOptions& options, const Body& root, WrittenStyle style)
    : options_(options), spanning_(root), style_(style), whole_(!options.lines) {}

void Formatter::put_source(std::string_view text) {
    out += text;
    const std::size_t lf = text.rfind('\n');
    if (lf != std::string_view::npos) line_start_ = out.size() - (text.size() - lf - 1);
}

void Formatter::line_break() {
    out += style_.newline;
    line_start_ = out.size();
}

void Formatter::indent(std::size_t depth) {
    for (std::size_t i = 0; i < depth; ++i) out += style_.step;
}

// Reads past old text, following its lines and their indentation.
void Formatter::pass(std::string_view old) {
    const std::size_t start = last_line_start(old);
    if (start == 0) return;
    old_indent_ = indentation(old.substr(start));
    if (options_.lines) old_line_ += count_line_feeds(old);
}

void Formatter::quoted(std::string_view content) {
    put("\"");
    verbatim(content);
    put("\"");
}

// Old text written as it was.
void Formatter::verbatim(std::string_view old) {
    pass(old);
    put_source(old);
}

// `count` blank lines where `allowed`, at most max_blank_lines of them, and
// one at least after a comment line: it sets the comment off from what
// follows as its header.
void Formatter::blank_lines(std::size_t count, bool allowed, bool after_comment_line) {
    if (!allowed || count == 0) return;
    std::size_t blank = std::min(count, options_.max_blank_lines);
    if (after_comment_line) blank = std::max<std::size_t>(blank, 1);
    for (std::size_t i = 0; i < blank; ++i) line_break();
}

// A run of `count` line breaks (one at least).
void Formatter::breaks(std::size_t count, bool blank_allowed, bool after_comment_line) {
    line_break();
    blank_lines(count - 1, blank_allowed, after_comment_line);
}

// Trivia keeps its comments, without the spaces that end their lines: one
// that ends the line of what precedes stays there, after two spaces; comment
// lines stand at the gap's depth, with the blank lines between them. A lone
// carriage return is a line break, as editors show it.
void Formatter::trivia(std::string_view text, const Gap& gap) {
    pass(text);
    TriviaComments comments(text);
    bool content = !gap.opens;
    bool after_comment_line = gap.after_comment_line;
    bool at_start = gap.file_start || gap.line_start;
    bool commented = false;
    while (auto comment = comments.next()) {
        commented = true;
        if (at_start && gap.line_start) blank_lines(comment->breaks, content, after_comment_line);
        if (!at_start && comment->breaks == 0) {
            put(end_comment_spacing);
            put(comment->text);
            continue;
        }
        if (!at_start) breaks(comment->breaks, content, after_comment_line);
        indent(gap.depth);
        put(comment->text);
        content = after_comment_line = true;
        at_start = false;
    }
    if (gap.file_end) {
        if (!out.empty() && options_.final_newline) line_break();
        return;
    }
    const std::size_t count = comments.final_breaks();
    if (at_start && gap.line_start) blank_lines(count, content && !gap.closes, after_comment_line);
    if (at_start) return indent(gap.next_depth);
    if ((count == 0 && !gap.line) || (gap.joins && !commented)) return put(gap.inline_sep);
    breaks(std::max<std::size_t>(count, 1), content && !gap.closes, after_comment_line);
    indent(gap.next_depth);
}

bool Formatter::document(const Body& root) {
    for (std::size_t i = 0; i < root.pairs.size();)
        if (!run(root, i, 0, true, false)) return false;
    Gap end{0, 0, ""};
    end.opens = end.file_start = root.pairs.empty();
    end.file_end = true;
    if (!whole_) {
        range_end(root.trailing, end);
        return true;
    }
    trivia(root.trailing, end);
    return true;
}

bool Formatter::pair(const PairRef& ref, std::size_t depth, const Gap& lead) {
    WriteGuard guard(ref.lock());
    if (!guard) return false;
    const Pair& pair = *ref;
    if (whole_) return formatted(pair, depth, lead, pair.leading);
    return range_pair(pair, depth, lead);
}

bool Formatter::formatted(const Pair& pair, std::size_t depth, const Gap& lead,
                          std::string_view leading) {
    trivia(leading, lead);
    if (key_line_) *std::exchange(key_line_, nullptr) = line_start_;
    put(pair.key);
    put(":");
    if (const Expr* expr = expr_of(pair.value)) {
        expression(pair, *expr);
        return true;
    }
    Gap after{depth + 1, depth + 1, " "};
    after.opens = after.joins = true;
    trivia(pair.after_colon, after);
    return value(pair.value, depth);
}

bool Formatter::value(const Value& value, std::size_t depth) {
    if (auto* literal = std::get_if<Literal>(&value)) {
        put(literal->text);
    } else if (auto* string = std::get_if<String>(&value)) {
        quoted(string->content);
    } else if (const List* l = list_of(value)) {
        list(*l, depth);
    } else if (const Block* b = block_of(value)) {
        if (b->name) {
            put(*b->name);
            Gap brace{depth, depth, " "};
            brace.opens = brace.joins = true;
            trivia(b->before_brace, brace);
        }
        return block(*b, depth);
    }
    return true;
}

bool Formatter::block(const Block& block, std::size_t depth) {
    put("{");
    const Body& inside = block.body;
    if (holds_nothing(inside.pairs, inside.trailing)) {
        pass(inside.trailing);
        put("}");
        return true;
    }
    if (spanning_(inside)) return body(inside, depth + 1, Layout::lines);
    return fit(nullptr, &inside, depth);
}

bool Formatter::body(const Body& body, std::size_t depth, Layout layout) {
    for (std::size_t i = 0; i < body.pairs.size();) {
        if (layout == Layout::lines) {
            if (!run(body, i, depth, false, true)) return false;
            continue;
        }
        Gap lead{depth, depth, " "};
        lead.opens = i == 0;
        lead.line = layout == Layout::expanded;
        if (!pair(body.pairs[i++], depth, lead)) return false;
    }
    if (layout == Layout::flat) {
        pass(body.trailing);
        put(" }");
        return true;
    }
    Gap end{depth, depth - 1, "", true};
    end.opens = body.pairs.empty();
    end.closes = true;
    trivia(body.trailing, end);
    put("}");
    return true;
}

void Formatter::list(const List& list, std::size_t depth) {
    put("[");
    if (holds_nothing(list.items, list.trailing)) {
        pass(list.trailing);
        put("]");
        return;
    }
    if (spanning_(list)) {
        items(list, depth, false);
        return;
    }
    fit(&list, nullptr, depth);
}

bool Formatter::items(const List& list, std::size_t depth, bool flat) {
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        const ListItem& item = list.items[i];
        Gap lead{depth + 1, depth + 1, i == 0 ? "" : " ", !flat};
        lead.opens = i == 0;
        trivia(item.leading, lead);
        list_value(item.value, depth + 1);
        if (item.before_comma) {
            Gap comma{depth + 1, depth + 1, ""};
            comma.opens = comma.joins = true;
            trivia(*item.before_comma, comma);
            put(",");
        }
    }
    Gap end{depth + 1, depth, "", !flat};
    end.closes = true;
    trivia(list.trailing, end);
    put("]");
    return true;
}

void Formatter::list_value(const ListValue& value, std::size_t depth) {
    if (auto* literal = std::get_if<Literal>(&value)) {
        put(literal->text);
    } else if (auto* string = std::get_if<String>(&value)) {
        quoted(string->content);
    } else if (auto* pair = std::get_if<Boxed<ListPair>>(&value)) {
        put((*pair)->key);
        put(":");
        Gap after{depth + 1, depth + 1, " "};
        after.opens = after.joins = true;
        trivia((*pair)->after_colon, after);
        list_value((*pair)->value, depth);
    } else {
        list(*std::get<Boxed<List>>(value), depth);
    }
}

} // namespace quarel
