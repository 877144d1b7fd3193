// Comment text in trivia: whose each line is, and the comment at the end of
// a line, read and written as text.
//
// A pair's leading (or a body's or list's trailing) runs from the end of
// what precedes it to its key, and holds lines that belong to different
// owners:
//
//   a: 1   # about a          <- line end: ends the line of `a`, so it is a's
//
//   # Section                 <- detached: set off by a blank line, it stays
//                                where it is whatever happens to `b`
//   # about b                 <- attached: directly above `b`, it is b's
//   b: 2
//
// The first line of the first pair of a block ends the line of its `{`, and
// belongs to the block. The same holds for list items, their commas and `[`.
//
// An end comment is held with the spaces in front of it, which are the
// user's spacing.
#pragma once

#include "edit/error.hpp"

#include <string>
#include <string_view>
#include <variant>

namespace quarel {

// The spaces between what a line holds and the comment that ends it, when
// they are not the user's: a new end comment's, and every one formatted.
inline constexpr std::string_view end_comment_spacing = "  ";

struct Leading {
    // The rest of the line before: spaces, perhaps an end-of-line comment,
    // and the line break. Empty when the text opens the document or holds no
    // line break, save for an end-of-line comment that ends the input.
    std::string_view line_end;
    std::string_view detached; // whole lines above the attached ones, up to a blank line
    std::string_view attached; // the comment lines directly above the key
    std::string_view indent;   // the rest: indentation, or the spacing on a shared line
};

// Divides `text`; `opens_document` for the leading of a document's first
// pair, which has no line before it.
Leading divide(std::string_view text, bool opens_document);

// Whether the text holds a comment. (Asked of every trivia text when a
// document is formatted, so defined here to be inlined.)
inline bool has_comment(std::string_view text) noexcept {
    return text.find('#') != std::string_view::npos;
}
// The part of a line end before its line break when it holds a comment (the
// spaces before the comment included); empty otherwise.
std::string_view line_end_comment(std::string_view line_end) noexcept;
// `text` without the blank lines it starts with.
std::string_view drop_blank_lines(std::string_view text) noexcept;
// Whether the text starts with a line break (LF or CR LF).
bool starts_line(std::string_view text) noexcept;
// The line break (LF or CR LF) the text ends with; empty without one.
std::string_view final_break(std::string_view text) noexcept;

// `text` with an end comment put in front of it, followed by `line_break`
// unless `text` starts a line already.
std::string prepend_end_comment(std::string_view comment, std::string_view line_break,
                                std::string_view text);

// The end comment in `after`, the text that follows a pair, with the spaces
// in front of it; empty for none.
std::string_view find_end_comment(std::string_view after) noexcept;

// `after` with `comment` (spaces in front included; empty for none) as the
// end comment of the pair before it. Where the text after the pair shared
// its line, what follows the pair moves to `next_line`, a line break and the
// indentation of its new line (empty at the end of a document, where
// nothing follows).
std::string replace_end_comment(std::string_view after, std::string_view comment,
                                std::string_view next_line);

// The comment a user gives, ready to write: trimmed, with "# " in front when
// it lacks a `#`; empty (no comment) when only whitespace is given. Text
// holding a line break is refused.
std::variant<std::string, EditError> compose_end_comment(std::string_view given);

// `text` (from compose_end_comment; empty to remove) written in the place of
// the old end comment `old`: after the spaces the old one had, or two
// spaces after the value.
std::string space_end_comment(std::string_view old, std::string_view text);

} // namespace quarel
