#include "format/check.hpp"

#include "edit/comment_text.hpp"
#include "format/expression_lines.hpp"
#include "format/trivia_text.hpp"
#include "parser/lexer.hpp"

#include <algorithm>
#include <vector>

namespace quarel {

namespace {

// The same comments, each ending the line of what precedes it or standing
// on a line of its own in both. Nothing precedes the text that opens a file.
bool same_comments(std::string_view a, std::string_view b, bool opens_file = false) {
    const bool commented = has_comment(a);
    if (commented != has_comment(b)) return false;
    if (!commented) return true;
    TriviaComments left(a), right(b);
    for (;; opens_file = false) {
        auto l = left.next();
        auto r = right.next();
        if (!l || !r) return !l && !r;
        if (l->text != r->text || (!opens_file && (l->breaks == 0) != (r->breaks == 0)))
            return false;
    }
}

// The same expression lines, each without its indentation but those that
// start inside a literal, which must stay as they are with the line break in
// front of them.
bool same_expression(std::string_view key, std::string_view a, std::string_view b) {
    ExpressionLines left(key, a), right(key, b);
    for (;;) {
        auto l = left.next();
        auto r = right.next();
        if (!l || !r) return !l && !r;
        if (l->verbatim != r->verbatim) return false;
        const bool same = l->verbatim ? l->text == r->text && l->line_break == r->line_break
                                      : l->text.substr(indentation(l->text).size()) ==
                                            r->text.substr(indentation(r->text).size());
        if (!same) return false;
    }
}

bool same_list(const List& a, const List& b);

bool same_list_value(const ListValue& a, const ListValue& b) {
    if (a.index() != b.index()) return false;
    if (auto* l = std::get_if<Literal>(&a)) return l->text == std::get<Literal>(b).text;
    if (auto* s = std::get_if<String>(&a)) return s->content == std::get<String>(b).content;
    if (auto* p = std::get_if<Boxed<ListPair>>(&a)) {
        const ListPair& q = *std::get<Boxed<ListPair>>(b);
        return (*p)->key == q.key && same_comments((*p)->after_colon, q.after_colon) &&
               same_list_value((*p)->value, q.value);
    }
    return same_list(*std::get<Boxed<List>>(a), *std::get<Boxed<List>>(b));
}

bool same_list(const List& a, const List& b) {
    if (a.items.size() != b.items.size() || !same_comments(a.trailing, b.trailing)) return false;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        const ListItem& l = a.items[i];
        const ListItem& r = b.items[i];
        if (l.before_comma.has_value() != r.before_comma.has_value() ||
            (l.before_comma && !same_comments(*l.before_comma, *r.before_comma)) ||
            !same_comments(l.leading, r.leading) || !same_list_value(l.value, r.value))
            return false;
    }
    return true;
}

// The pair itself, the pairs of its block aside.
bool same_pair(const Pair& a, const Pair& b, bool opens_file) {
    if (a.key != b.key || kind_of(a.value) != kind_of(b.value) ||
        !same_comments(a.leading, b.leading, opens_file))
        return false;
    if (const Expr* e = expr_of(a.value))
        return same_expression(a.key, e->text, expr_of(b.value)->text);
    if (!same_comments(a.after_colon, b.after_colon)) return false;
    if (auto* l = std::get_if<Literal>(&a.value)) return l->text == std::get<Literal>(b.value).text;
    if (auto* s = std::get_if<String>(&a.value))
        return s->content == std::get<String>(b.value).content;
    if (const List* l = list_of(a.value)) return same_list(*l, *list_of(b.value));
    const Block& l = *block_of(a.value);
    const Block& r = *block_of(b.value);
    return l.name.has_value() == r.name.has_value() && (!l.name || *l.name == *r.name) &&
           same_comments(l.before_brace, r.before_brace) &&
           l.body.pairs.size() == r.body.pairs.size() &&
           same_comments(l.body.trailing, r.body.trailing);
}

// A key or name in a selector, its special characters escaped.
void append_escaped(std::string& path, std::string_view text) {
    for (char c : text) {
        if (std::string_view("/*?[\\").find(c) != std::string_view::npos) path += '\\';
        path += c;
    }
}

std::string selector(const std::vector<const Pair*>& pairs) {
    if (pairs.empty()) return "/";
    std::string path;
    for (const Pair* pair : pairs) {
        if (!path.empty()) path += '/';
        append_escaped(path, pair->key);
        const Block* block = block_of(pair->value);
        if (block && block->name) {
            path += ':';
            append_escaped(path, *block->name);
        }
    }
    return path;
}

// `around`: the block pairs the bodies stand in, outermost first; the path
// is only written for a difference.
std::optional<std::string> differ(const Body& a, const Body& b, std::vector<const Pair*>& around) {
    const bool root = around.empty();
    if (a.pairs.size() != b.pairs.size() ||
        !same_comments(a.trailing, b.trailing, root && a.pairs.empty()))
        return selector(around);
    for (std::size_t i = 0; i < a.pairs.size(); ++i) {
        const Pair& l = *a.pairs[i];
        const Pair& r = *b.pairs[i];
        around.push_back(&l);
        if (!same_pair(l, r, root && i == 0)) return selector(around);
        if (const Block* block = block_of(l.value))
            if (auto found = differ(block->body, block_of(r.value)->body, around)) return found;
        around.pop_back();
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> first_difference(const Body& before, const Body& after) {
    std::vector<const Pair*> around;
    return differ(before, after, around);
}

} // namespace quarel
