#include "format/format.hpp"

#include "cst/printer.hpp"
#include "edit/comment_text.hpp"
#include "edit/layout.hpp"
#include "edit/style.hpp"
#include "format/check.hpp"
#include "parser/lexer.hpp"
#include "parser/parser.hpp"

#include <algorithm>

namespace quarel {

namespace {

constexpr std::size_t tab_columns = 4;

std::size_t count_breaks(std::string_view text) noexcept {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The spaces and tabs a line starts with.
std::string_view indentation(std::string_view line) noexcept {
    std::size_t n = 0;
    while (n < line.size() && lex::is_inline_space(line[n])) ++n;
    return line.substr(0, n);
}

// How wide a line shows: a column per code point, four per tab.
std::size_t width(std::string_view line) noexcept {
    std::size_t columns = 0;
    for (char c : line)
        columns += c == '\t' ? tab_columns : (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

bool too_wide(std::string_view text, std::size_t limit) noexcept {
    for (;;) {
        const std::size_t lf = text.find('\n');
        if (width(text.substr(0, lf)) > limit) return true;
        if (lf == std::string_view::npos) return false;
        text.remove_prefix(lf + 1);
    }
}

// Whether a structure stands on more than one line, not counting the line
// breaks of its strings and expressions, which are the user's text.
bool spans_lines(const ListValue& value);
bool spans_lines(const List& list) {
    for (const ListItem& item : list.items)
        if (has_line_feed(item.leading) ||
            (item.before_comma && has_line_feed(*item.before_comma)) || spans_lines(item.value))
            return true;
    return has_line_feed(list.trailing);
}
bool spans_lines(const ListValue& value) {
    if (auto* p = std::get_if<Boxed<ListPair>>(&value))
        return has_line_feed((*p)->after_colon) || spans_lines((*p)->value);
    if (auto* l = std::get_if<Boxed<List>>(&value)) return spans_lines(**l);
    return false;
}
bool spans_lines(const Body& body);
bool spans_lines(const Value& value) {
    if (const List* l = list_of(value)) return spans_lines(*l);
    if (const Block* b = block_of(value))
        return has_line_feed(b->before_brace) || spans_lines(b->body);
    return false;
}
bool spans_lines(const Body& body) {
    for (const PairRef& pair : body.pairs)
        if (has_line_feed(pair->leading) ||
            (!expr_of(pair->value) &&
             (has_line_feed(pair->after_colon) || spans_lines(pair->value))))
            return true;
    return has_line_feed(body.trailing);
}

// The layout of a block's pairs.
enum class Layout {
    flat,     // on the line of the braces
    lines,    // the braces on lines of their own, pairs sharing a line stay on it
    expanded, // every pair on a line of its own
};

// The text of the trivia between two tokens, written again.
struct Slot {
    std::size_t depth;           // of comment lines
    std::size_t next_depth;      // of the next token, when it starts a line
    std::string_view inline_sep; // before the next token when it stays on the line
    bool line = false;           // the next token starts a line
    bool joins = false;          // it stays on the line unless a comment comes between
    bool opens = false;          // nothing of the body precedes: no blank lines
    bool closes = false;         // the body ends next: no blank lines before it
    bool file_start = false;
    bool line_start = false;         // at the start of a line that old text ended
    bool after_comment_line = false; // that line a comment line
    bool file_end = false;
};

class Formatter {
  public:
    Formatter(const FormatOptions& options, std::string_view old_step, std::string_view step,
              std::string_view newline)
        : options_(options), old_step_(old_step), step_(step), newline_(newline),
          whole_(!options.lines) {}

    // False when a pair is busy.
    bool document(const Body& root);

    std::string out;

  private:
    void put(std::string_view text) { out += text; }
    // Source text that may hold line breaks of its own.
    void put_source(std::string_view text) {
        out += text;
        const std::size_t lf = text.rfind('\n');
        if (lf != std::string_view::npos) line_start_ = out.size() - (text.size() - lf - 1);
    }
    void line_break() {
        out += newline_;
        line_start_ = out.size();
    }
    void indent(std::size_t depth) {
        for (std::size_t i = 0; i < depth; ++i) out += step_;
    }
    // Reads past old text, following its lines and their indentation.
    void pass(std::string_view old) {
        const std::size_t lf = old.rfind('\n');
        if (lf == std::string_view::npos) return;
        old_indent_ = indentation(old.substr(lf + 1));
        if (options_.lines) old_line_ += count_breaks(old);
    }
    void quoted(std::string_view content) {
        put("\"");
        verbatim(content);
        put("\"");
    }
    // Old text written as it was.
    void verbatim(std::string_view old) {
        pass(old);
        put_source(old);
    }

    void trivia(std::string_view text, const Slot& slot);
    void breaks(std::size_t count, bool blank_allowed, bool after_comment_line);
    void blank_lines(std::size_t count, bool allowed, bool after_comment_line);
    std::size_t range_start(std::string_view text, Slot& slot) const;
    bool pair(const PairRef& ref, std::size_t depth, const Slot& lead);
    bool formatted(const Pair& pair, std::size_t depth, const Slot& lead, std::string_view leading);
    bool kept(const Pair& pair, std::size_t depth);
    bool value(const Value& value, std::size_t depth);
    bool block(const Block& block, std::size_t depth);
    bool body(const Body& body, std::size_t depth, Layout layout);
    void list(const List& list, std::size_t depth);
    void items(const List& list, std::size_t depth, bool flat);
    void list_value(const ListValue& value, std::size_t depth);
    void expression(const Pair& pair, const Expr& expr);

    // Writes a one-line structure with `flat` when it fits in the column
    // width, else with `expanded`; inside a structure written flat, nothing
    // expands.
    template <class Flat, class Expanded> bool fit(Flat flat, Expanded expanded);

    const FormatOptions& options_;
    std::string_view old_step_;
    std::string_view step_;
    std::string_view newline_;
    std::size_t line_start_ = 0;
    std::string_view old_indent_; // of the old line read up to
    std::size_t old_line_ = 1;    // counted only for a range of lines
    bool flat_ = false;
    bool whole_;                      // formatting all there is here, not just the pairs of a range
    bool previous_formatted_ = false; // the pair before, in a range
};

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
// lines stand at the slot's depth, with the blank lines between them.
void Formatter::trivia(std::string_view text, const Slot& slot) {
    pass(text);
    TriviaComments comments(text);
    bool content = !slot.opens;
    bool after_comment_line = slot.after_comment_line;
    bool at_start = slot.file_start || slot.line_start;
    bool commented = false;
    while (auto comment = comments.next()) {
        commented = true;
        if (at_start && slot.line_start) blank_lines(comment->breaks, content, after_comment_line);
        if (!at_start && comment->breaks == 0) {
            put(end_comment_spacing);
            put(comment->text);
            continue;
        }
        if (!at_start) breaks(comment->breaks, content, after_comment_line);
        indent(slot.depth);
        put(comment->text);
        content = after_comment_line = true;
        at_start = false;
    }
    if (slot.file_end) {
        if (!out.empty() && options_.final_newline) line_break();
        return;
    }
    const std::size_t count = comments.final_breaks();
    if (at_start && slot.line_start)
        blank_lines(count, content && !slot.closes, after_comment_line);
    if (at_start) return indent(slot.next_depth);
    if ((count == 0 && !slot.line) || (slot.joins && !commented)) return put(slot.inline_sep);
    breaks(std::max<std::size_t>(count, 1), content && !slot.closes, after_comment_line);
    indent(slot.next_depth);
}

bool Formatter::document(const Body& root) {
    for (std::size_t i = 0; i < root.pairs.size(); ++i) {
        Slot lead{0, 0, " "};
        lead.opens = lead.file_start = i == 0;
        if (!pair(root.pairs[i], 0, lead)) return false;
    }
    Slot end{0, 0, ""};
    end.opens = end.file_start = root.pairs.empty();
    end.file_end = true;
    std::string_view trailing = root.trailing;
    if (!whole_) {
        // The end of the file is formatted when the range reaches its last line.
        std::string_view shown = trailing.substr(0, trailing.size() - trailing.ends_with('\n'));
        const std::size_t last_line = old_line_ + count_breaks(shown);
        if (options_.lines->first > last_line || options_.lines->second < last_line) {
            verbatim(trailing);
            return true;
        }
        const std::size_t from = range_start(trailing, end);
        verbatim(trailing.substr(0, from));
        trailing.remove_prefix(from);
    }
    trivia(trailing, end);
    return true;
}

// Where formatting starts in the trivia before what a range of lines
// holds: at the range's first line, and not before the line break that
// ends the line of what precedes, unless that was formatted too (an
// end-of-line comment is formatted with the pair it follows).
std::size_t Formatter::range_start(std::string_view text, Slot& slot) const {
    const std::size_t first_break = text.find('\n');
    if (first_break == std::string_view::npos) return 0;
    std::size_t from =
        slot.file_start || previous_formatted_ ? 0 : lex::break_start(text, first_break);
    std::size_t at = 0;
    for (std::size_t line = old_line_; line < options_.lines->first; ++line)
        at = text.find('\n', at) + 1;
    if (at > from) {
        // The comment lines kept before the range are content of the body,
        // and the last line kept may be one of them.
        const std::size_t own_lines = slot.file_start ? 0 : first_break + 1;
        const std::size_t kept_break = at >= 2 ? text.rfind('\n', at - 2) : std::string_view::npos;
        const std::size_t last_kept = kept_break == std::string_view::npos ? 0 : kept_break + 1;
        slot.opens = slot.opens && !has_comment(text.substr(own_lines, at - own_lines));
        slot.after_comment_line =
            last_kept >= own_lines && has_comment(text.substr(last_kept, at - last_kept));
        from = at;
        slot.line_start = true;
    }
    slot.file_start = slot.file_start && from == 0;
    return from;
}

bool Formatter::pair(const PairRef& ref, std::size_t depth, const Slot& lead) {
    WriteGuard guard(ref.lock());
    if (!guard) return false;
    const Pair& pair = *ref;
    if (whole_) return formatted(pair, depth, lead, pair.leading);
    const std::size_t key_line = old_line_ + count_breaks(pair.leading);
    if (key_line < options_.lines->first || key_line > options_.lines->second) {
        const bool done = kept(pair, depth);
        previous_formatted_ = false;
        return done;
    }
    Slot from_range = lead;
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
    for (std::size_t i = 0; i < block->body.pairs.size(); ++i) {
        Slot lead{depth + 1, depth + 1, " "};
        lead.opens = i == 0;
        if (!this->pair(block->body.pairs[i], depth + 1, lead)) return false;
    }
    verbatim(block->body.trailing);
    put("}");
    return true;
}

bool Formatter::formatted(const Pair& pair, std::size_t depth, const Slot& lead,
                          std::string_view leading) {
    trivia(leading, lead);
    put(pair.key);
    put(":");
    if (const Expr* expr = expr_of(pair.value)) {
        expression(pair, *expr);
        return true;
    }
    Slot after{depth + 1, depth + 1, " "};
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
            Slot brace{depth, depth, " "};
            brace.opens = brace.joins = true;
            trivia(b->before_brace, brace);
        }
        return block(*b, depth);
    }
    return true;
}

template <class Flat, class Expanded> bool Formatter::fit(Flat flat, Expanded expanded) {
    if (flat_) return flat();
    const std::size_t start = out.size();
    const std::size_t line_start = line_start_;
    const std::string_view old_indent = old_indent_;
    const std::size_t old_line = old_line_;
    flat_ = true;
    const bool done = flat();
    flat_ = false;
    if (!done) return false;
    if (!too_wide(std::string_view(out).substr(line_start), options_.column_width)) return true;
    out.resize(start);
    line_start_ = line_start;
    old_indent_ = old_indent;
    old_line_ = old_line;
    return expanded();
}

bool Formatter::block(const Block& block, std::size_t depth) {
    put("{");
    const Body& inside = block.body;
    if (inside.pairs.empty() && !has_comment(inside.trailing)) {
        pass(inside.trailing);
        put("}");
        return true;
    }
    if (spans_lines(inside)) return body(inside, depth + 1, Layout::lines);
    return fit([&] { return body(inside, depth + 1, Layout::flat); },
               [&] { return body(inside, depth + 1, Layout::expanded); });
}

bool Formatter::body(const Body& body, std::size_t depth, Layout layout) {
    for (std::size_t i = 0; i < body.pairs.size(); ++i) {
        Slot lead{depth, depth, " "};
        lead.opens = i == 0;
        lead.line = layout == Layout::expanded || (layout == Layout::lines && i == 0);
        if (!pair(body.pairs[i], depth, lead)) return false;
    }
    if (layout == Layout::flat) {
        pass(body.trailing);
        put(" }");
        return true;
    }
    Slot end{depth, depth - 1, "", true};
    end.opens = body.pairs.empty();
    end.closes = true;
    trivia(body.trailing, end);
    put("}");
    return true;
}

void Formatter::list(const List& list, std::size_t depth) {
    put("[");
    if (list.items.empty() && !has_comment(list.trailing)) {
        pass(list.trailing);
        put("]");
        return;
    }
    if (spans_lines(list)) return items(list, depth, false);
    fit([&] { return items(list, depth, true), true; },
        [&] { return items(list, depth, false), true; });
}

void Formatter::items(const List& list, std::size_t depth, bool flat) {
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        const ListItem& item = list.items[i];
        Slot lead{depth + 1, depth + 1, i == 0 ? "" : " ", !flat};
        lead.opens = i == 0;
        trivia(item.leading, lead);
        list_value(item.value, depth + 1);
        if (item.before_comma) {
            Slot comma{depth + 1, depth + 1, ""};
            comma.opens = comma.joins = true;
            trivia(*item.before_comma, comma);
            put(",");
        }
    }
    Slot end{depth + 1, depth, "", !flat};
    end.closes = true;
    trivia(list.trailing, end);
    put("]");
}

void Formatter::list_value(const ListValue& value, std::size_t depth) {
    if (auto* literal = std::get_if<Literal>(&value)) {
        put(literal->text);
    } else if (auto* string = std::get_if<String>(&value)) {
        quoted(string->content);
    } else if (auto* pair = std::get_if<Boxed<ListPair>>(&value)) {
        put((*pair)->key);
        put(":");
        Slot after{depth + 1, depth + 1, " "};
        after.opens = after.joins = true;
        trivia((*pair)->after_colon, after);
        list_value((*pair)->value, depth);
    } else {
        list(*std::get<Boxed<List>>(value), depth);
    }
}

// The lines of an expression after its key's keep their indentation
// relative to the key's line, whole old steps written as new ones; a line
// indented less than the key's keeps its own. The whitespace around the
// text keeps its line breaks, and is a space on the line of the colon or
// of the text's end.
void Formatter::expression(const Pair& pair, const Expr& expr) {
    const std::string_view key_old = old_indent_;
    // Copied out of the text it extends, and only for an expression of lines.
    const bool lines =
        has_line_feed(pair.after_colon) || has_line_feed(expr.text) || has_line_feed(expr.trailing);
    const std::string key_new(lines ? indentation(std::string_view(out).substr(line_start_))
                                    : std::string_view());
    auto reindent = [&](std::string_view old) {
        if (!old.starts_with(key_old)) return put(old);
        old.remove_prefix(key_old.size());
        put(key_new);
        for (; old.starts_with(old_step_); old.remove_prefix(old_step_.size())) put(step_);
        put(old);
    };
    auto edge = [&](std::string_view space, std::string_view on_line) {
        pass(space);
        const std::size_t lf = space.rfind('\n');
        if (lf == std::string_view::npos) return put(on_line);
        for (std::size_t n = count_breaks(space); n > 0; --n) line_break();
        reindent(indentation(space.substr(lf + 1)));
    };
    edge(pair.after_colon, " ");
    std::string_view text = expr.text;
    pass(text);
    for (bool first = true;; first = false) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf != std::string_view::npos) line = without_returns(line);
        if (!first) {
            line_break();
            const std::string_view own = indentation(line);
            reindent(own);
            line.remove_prefix(own.size());
        }
        put(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    edge(expr.trailing, expr.text.empty() ? "" : " ");
    put(";;");
}

// Moves the whitespace of the formatted tree into the document's nodes,
// which hold the same pairs and items; counts what changes.
class Adopt {
  public:
    bool changed = false;

    void body(Body& old, Body& now) {
        for (std::size_t i = 0; i < old.pairs.size(); ++i) pair(*old.pairs[i], *now.pairs[i]);
        take(old.trailing, now.trailing);
    }

  private:
    void take(Text& into, Text& from) {
        if (into == from) return;
        changed = true;
        into = std::move(from);
    }
    void pair(Pair& old, Pair& now) {
        take(old.leading, now.leading);
        take(old.before_colon, now.before_colon);
        take(old.after_colon, now.after_colon);
        if (Expr* e = expr_of(old.value)) {
            take(e->text, expr_of(now.value)->text);
            take(e->trailing, expr_of(now.value)->trailing);
        } else if (List* l = list_of(old.value)) {
            list(*l, *list_of(now.value));
        } else if (Block* b = block_of(old.value)) {
            take(b->before_brace, block_of(now.value)->before_brace);
            body(b->body, block_of(now.value)->body);
        }
    }
    void list(List& old, List& now) {
        for (std::size_t i = 0; i < old.items.size(); ++i) {
            ListItem& item = old.items[i];
            take(item.leading, now.items[i].leading);
            if (item.before_comma) take(*item.before_comma, *now.items[i].before_comma);
            list_value(item.value, now.items[i].value);
        }
        take(old.trailing, now.trailing);
    }
    void list_value(ListValue& old, ListValue& now) {
        if (auto* p = std::get_if<Boxed<ListPair>>(&old)) {
            ListPair& q = *std::get<Boxed<ListPair>>(now);
            take((*p)->before_colon, q.before_colon);
            take((*p)->after_colon, q.after_colon);
            list_value((*p)->value, q.value);
        } else if (auto* l = std::get_if<Boxed<List>>(&old)) {
            list(**l, *std::get<Boxed<List>>(now));
        }
    }
};

} // namespace

std::variant<bool, EditError> format_document(Body& root, const FormatOptions& options) {
    const ShownStyle shown = shown_style(root);
    const std::string step = options.indent.value_or(shown.step.value_or("  "));
    const std::string newline = options.newline.value_or(shown.newline.value_or("\n"));
    // Without a step of its own, the document's expressions are taken as
    // indented in the new one, so that formatting twice changes nothing.
    const std::string old_step = shown.step.value_or(step);
    Formatter formatter(options, old_step, step, newline);
    if (!formatter.document(root)) return make_error(ErrorCode::pair_busy);
    auto parsed = parse(formatter.out);
    auto* formatted = std::get_if<Body>(&parsed);
    std::optional<std::string> difference =
        formatted ? first_difference(root, *formatted) : std::optional<std::string>("/");
    if (difference) return make_error(ErrorCode::format_changes_meaning, {*difference});
    Adopt adopt;
    adopt.body(root, *formatted);
    return adopt.changed;
}

} // namespace quarel
