// The layout pass: writes the whole text of a document again, laid out
// regularly, in one walk of its tree. The formatter's units share it:
// writer.cpp lays out pairs, blocks, lists and the trivia between them,
// fit.cpp decides what stays on one line, expression.cpp re-indents the
// lines of expressions, and range.cpp keeps what a range of lines leaves
// out as it was.
#pragma once

#include "cst/tree.hpp"
#include "edit/comment_text.hpp"
#include "format/options.hpp"
#include "format/pointer_table.hpp"
#include "format/spans.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace quarel {

// The layout of a block's pairs.
enum class Layout {
    flat,     // on the line of the braces
    lines,    // the braces on lines of their own, pairs sharing a line stay on it
    expanded, // every pair on a line of its own
};

// A body or list with nothing in it, not even a comment: written `{}` or
// `[]` whatever it spans.
template <class Children>
bool holds_nothing(const Children& children, const Text& trailing) noexcept {
    return children.empty() && !has_comment(trailing);
}

// The trivia between two tokens, written again.
struct Gap {
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

// The style the text is written in, found once for the whole document.
struct WrittenStyle {
    std::string_view old_step; // the document's own, in which its expressions are indented
    std::string_view step;
    std::string_view newline;
};

class Formatter {
  public:
    Formatter(const FormatOptions& options, const Body& root, WrittenStyle style);

    // False when a pair is busy.
    bool document(const Body& root);

    std::string out;

  private:
    // Where the writing stands, to go back to when a layout is tried and
    // given up.
    struct Mark {
        std::size_t size, line_start, old_line, measured, columns;
        std::string_view old_indent;
        bool previous_formatted;
    };

    // writer.cpp: writing, trivia, pairs, values
    void put(std::string_view text) { out += text; }
    void put_source(std::string_view text);
    void line_break();
    void indent(std::size_t depth);
    void pass(std::string_view old);
    void quoted(std::string_view content);
    void verbatim(std::string_view old);
    void trivia(std::string_view text, const Gap& gap);
    void breaks(std::size_t count, bool blank_allowed, bool after_comment_line);
    void blank_lines(std::size_t count, bool allowed, bool after_comment_line);
    bool pair(const PairRef& ref, std::size_t depth, const Gap& lead);
    bool formatted(const Pair& pair, std::size_t depth, const Gap& lead, std::string_view leading);
    bool value(const Value& value, std::size_t depth);
    bool block(const Block& block, std::size_t depth);
    bool body(const Body& body, std::size_t depth, Layout layout);
    void list(const List& list, std::size_t depth);
    bool items(const List& list, std::size_t depth, bool flat);
    void list_value(const ListValue& value, std::size_t depth);

    // fit.cpp: what stays on one line
    std::size_t column();
    Mark mark() const;
    void back_to(const Mark& mark);
    // Writes a one-line list, or a one-line block's body, flat when it fits
    // in the column width, else expanded; inside a structure written flat,
    // nothing expands. The width of each structure's flat text is measured
    // once.
    bool fit(const List* list, const Body* body, std::size_t depth);
    bool write(const List* list, const Body* body, std::size_t depth, bool flat);
    // The pairs from `first` that share its line: on one line when they fit
    // there, else each on a line of its own. Moves `first` past them.
    // `starts_line`: the first starts a line (in a body laid out in lines).
    bool run(const Body& body, std::size_t& first, std::size_t depth, bool root, bool starts_line);
    // Whether a line of `out` from `from` on is wider than the column width.
    bool too_wide(std::size_t from);

    // expression.cpp
    void expression(const Pair& pair, const Expr& expr);
    void reindent(std::string_view old, std::string_view key_old, std::string_view key_new);
    void edge(std::string_view space, std::string_view on_line, std::string_view key_old,
              std::string_view key_new);

    // range.cpp: a range of lines
    bool in_range(std::size_t line) const;
    bool range_pair(const Pair& pair, std::size_t depth, const Gap& lead);
    bool kept(const Pair& pair, std::size_t depth);
    std::size_t range_start(std::string_view text, Gap& gap) const;
    void range_end(std::string_view trailing, Gap& end);

    const FormatOptions& options_;
    const Spanning spanning_;
    WrittenStyle style_;
    std::size_t line_start_ = 0;
    std::string_view old_indent_; // of the old line read up to
    std::size_t old_line_ = 1;    // counted only for a range of lines
    bool flat_ = false;
    bool whole_;                      // formatting all there is here, not just the pairs of a range
    bool previous_formatted_ = false; // the pair before, in a range
    // Set by run(): where the line of the next pair's key starts goes here.
    std::size_t* key_line_ = nullptr;
    // The columns of `out` from line_start_ up to `measured_`.
    std::size_t measured_ = 0;
    std::size_t columns_ = 0;
    // For each structure written flat, the columns of its text up to its
    // first line break (that of a string or an expression), and whether
    // what follows that break is too wide.
    struct FlatWidth {
        std::size_t columns;
        bool rest_too_wide;
    };
    PointerTable<FlatWidth> flat_widths_;
};

} // namespace quarel
