// What edits promise about a document's own style and its comments, checked
// after each edit of the edit fuzzer:
//
// - the line breaks of the layout stay the document's, when they were one
//   kind throughout;
// - a new pair starts its line at a sibling's indentation, or one indent
//   step below its block's line;
// - no line of a snippet's text is indented with a unit (space or tab) the
//   document does not use, but for spaces that align it;
// - every pair that stays keeps its comments: the lines directly above it,
//   the comment ending its line and, for a block, the one ending its `{`
//   line; only the pairs an edit changed may differ.
#pragma once

#include "edit/comment_text.hpp"
#include "edit/layout.hpp"
#include "edit/style.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace quarel::fuzz {

// Calls `f` with every text of the layout under a pair or a body, and with
// the text of expressions when `exprs`: a snippet's expressions are new
// text, the expressions of a document the user's.
template <class F> void list_texts(const List& l, F& f) {
    for (const ListItem& item : l.items) {
        f(item.leading.view());
        if (item.before_comma) f(item.before_comma->view());
        if (auto* p = std::get_if<Boxed<ListPair>>(&item.value)) {
            f((*p)->before_colon.view());
            f((*p)->after_colon.view());
        }
        if (auto* nested = std::get_if<Boxed<List>>(&item.value)) list_texts(**nested, f);
    }
    f(l.trailing.view());
}

template <class F> void body_texts(const Body& b, F& f, bool exprs);

template <class F> void pair_texts(const Pair& p, F& f, bool exprs) {
    f(p.leading.view());
    f(p.before_colon.view());
    f(p.after_colon.view());
    if (const Expr* e = expr_of(p.value)) {
        if (exprs) f(e->text.view());
        f(e->trailing.view());
    }
    if (const List* l = list_of(p.value)) list_texts(*l, f);
    if (const Block* b = block_of(p.value)) {
        f(b->before_brace.view());
        body_texts(b->body, f, exprs);
    }
}

template <class F> void body_texts(const Body& b, F& f, bool exprs) {
    for (const PairRef& p : b.pairs) pair_texts(*p, f, exprs);
    f(b.trailing.view());
}

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
        auto each = [this](std::string_view t) { text(t); };
        body_texts(b, each, false);
    }

  private:
    bool crlf_;
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

// The units of indentation, spaces and tabs, that a document uses.
class Units {
  public:
    // Those of the indentation of every line its layout starts, and of its step.
    Units(const Body& root, const std::vector<PairRef>& detached, const Style& style) {
        add(style.step);
        auto each = [this](std::string_view t) { for_line_indents(t, [this](auto i) { add(i); }); };
        body_texts(root, each, false);
        for (const PairRef& pair : detached) pair_texts(*pair, each, false);
    }

    // Whether every line that `pair` starts, its expressions' included, is
    // indented in these units, but for spaces at the end (that align it).
    bool indent(const PairRef& pair) const {
        bool ok = true;
        auto each = [&](std::string_view t) {
            for_line_indents(t, [&](std::string_view i) {
                ok = ok && used(i.substr(0, i.find_last_not_of(' ') + 1));
            });
        };
        pair_texts(*pair, each, true);
        return ok;
    }

  private:
    bool spaces_ = false, tabs_ = false;

    void add(std::string_view indent) {
        spaces_ = spaces_ || indent.find(' ') != std::string_view::npos;
        tabs_ = tabs_ || indent.find('\t') != std::string_view::npos;
    }
    bool used(std::string_view indent) const {
        return (spaces_ || indent.find(' ') == std::string_view::npos) &&
               (tabs_ || indent.find('\t') == std::string_view::npos);
    }
    // Calls `f` with the indentation of every line that `t` starts, but of
    // lines of whitespace alone: a text of the layout ends where the content
    // of its last line begins.
    template <class F> static void for_line_indents(std::string_view t, F f) {
        for (std::size_t lf = t.find('\n'); lf != std::string_view::npos;) {
            std::size_t next = t.find('\n', lf + 1);
            std::string_view line = t.substr(lf + 1, next - lf - 1);
            lf = next;
            if (next != std::string_view::npos && line.find_first_not_of(" \t\r") == line.npos)
                continue;
            f(line.substr(0, line.find_first_not_of(" \t")));
        }
    }
};

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
                    std::string(find_end_comment(after)),
                    {}};
        if (const Block* block = block_of(pair.value)) {
            std::string_view first = block->body.pairs.empty()
                                         ? block->body.trailing.view()
                                         : block->body.pairs.front()->leading.view();
            owned.opening = find_end_comment(first);
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
