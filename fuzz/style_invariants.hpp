// What edits promise about a document's own style and its comments, checked
// after each edit of the edit fuzzer:
//
// - the line breaks of the layout stay the document's, when they were one
//   kind throughout;
// - a new pair starts its line at a sibling's indentation, or one indent
//   step below its block's line;
// - every pair that stays keeps its comments: the lines directly above it,
//   the comment ending its line and, for a block, the one ending its `{`
//   line; only the pairs an edit changed may differ.
#pragma once

#include "edit/end_comment.hpp"
#include "edit/layout.hpp"
#include "edit/owners.hpp"
#include "edit/style.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace quarel::fuzz {

// Whether every line break in these texts is `newline`.
class Breaks {
  public:
    explicit Breaks(std::string_view newline) : crlf_(newline == "\r\n") {}
    bool ok = true;

    void text(std::string_view t) {
        for (std::size_t lf = t.find('\n'); lf != std::string_view::npos; lf = t.find('\n', lf + 1))
            ok = ok && ((lf > 0 && t[lf - 1] == '\r') == crlf_);
    }
    void body(const Body& b) {
        for (const PairRef& p : b.pairs) {
            text(p->leading);
            text(p->before_colon);
            text(p->after_colon);
            value(p->value);
        }
        text(b.trailing);
    }

  private:
    bool crlf_;
    void value(const Value& v) {
        if (const Expr* e = expr_of(v)) text(e->trailing);
        if (const List* l = list_of(v)) list(*l);
        if (const Block* b = block_of(v)) {
            text(b->before_brace);
            body(b->body);
        }
    }
    void list(const List& l) {
        for (const ListItem& item : l.items) {
            text(item.leading);
            if (item.before_comma) text(*item.before_comma);
            if (auto* p = std::get_if<Boxed<ListPair>>(&item.value)) {
                text((*p)->before_colon);
                text((*p)->after_colon);
            }
            if (auto* nested = std::get_if<Boxed<List>>(&item.value)) list(**nested);
        }
        text(l.trailing);
    }
};

// Whether the whole printed text uses one kind of line break, `newline`.
inline bool uniform(std::string_view printed, std::string_view newline) {
    Breaks breaks(newline);
    breaks.text(printed);
    return breaks.ok;
}

inline bool layout_breaks_are(const Body& root, std::string_view newline) {
    Breaks breaks(newline);
    breaks.body(root);
    return breaks.ok;
}

// Whether `pair`, just placed in `body`, starts its line at a sibling's
// indentation or one step below `base_indent`.
inline bool indented_as_siblings(const Body& body, const PairRef& pair,
                                 std::string_view base_indent, bool top_level, const Style& style) {
    const std::string spacing = model_spacing(pair->leading);
    if (!has_line_feed(spacing)) return true;
    std::string_view indent = line_indent(spacing);
    if (indent == (top_level ? std::string() : indent_below(base_indent, style))) return true;
    for (const PairRef& sibling : body.pairs) {
        const std::string other = model_spacing(sibling->leading);
        if (!sibling.same(pair) && has_line_feed(other) && line_indent(other) == indent)
            return true;
    }
    return false;
}

struct Owned {
    const Pair* pair;
    std::string attached;
    std::string line_end; // the comment ending its line
    std::string opening;  // the comment ending the line of its `{`
};

inline void collect_owned(const Body& body, bool root, std::vector<Owned>& out) {
    for (std::size_t i = 0; i < body.pairs.size(); ++i) {
        const Pair& pair = *body.pairs[i];
        std::string_view after =
            i + 1 < body.pairs.size() ? body.pairs[i + 1]->leading.view() : body.trailing.view();
        Owned owned{&pair,
                    std::string(divide(pair.leading, root && i == 0).attached),
                    std::string(end_comment_in(after)),
                    {}};
        if (const Block* block = block_of(pair.value)) {
            std::string_view first = block->body.pairs.empty()
                                         ? block->body.trailing.view()
                                         : block->body.pairs.front()->leading.view();
            owned.opening = end_comment_in(first);
            collect_owned(block->body, false, out);
        }
        out.push_back(std::move(owned));
    }
}

inline std::vector<Owned> owned_comments(const Body& root) {
    std::vector<Owned> out;
    collect_owned(root, true, out);
    return out;
}

// Whether every pair in both lists, but those `changed`, owns the same
// comments.
inline bool owners_kept(const std::vector<Owned>& before, const std::vector<Owned>& after,
                        const std::vector<const Pair*>& changed) {
    for (const Owned& now : after) {
        if (std::find(changed.begin(), changed.end(), now.pair) != changed.end()) continue;
        for (const Owned& then : before)
            if (then.pair == now.pair &&
                (then.attached != now.attached || then.line_end != now.line_end ||
                 then.opening != now.opening))
                return false;
    }
    return true;
}

} // namespace quarel::fuzz
