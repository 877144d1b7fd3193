// What formatting must keep of a document: the same pairs in the same order
// with the same keys, names, kinds and values, and the same comments where
// they were. Whitespace outside strings is free, and so is the indentation
// of an expression's lines.
#pragma once

#include "cst/tree.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarel {

// A comment of trivia text and the line breaks in front of it.
struct TriviaComment {
    std::string_view text; // without the spaces and tabs that end its line
    std::size_t breaks;
};

// The comments of a trivia text, in order, then the line breaks after the
// last one. A line feed is a line break (with the carriage return in front
// of it, if any); every other byte of trivia is a space.
class TriviaComments {
  public:
    explicit TriviaComments(std::string_view text) noexcept : text_(text) {}
    std::optional<TriviaComment> next() noexcept;
    // The line breaks after the last comment, once next() gave nullopt.
    std::size_t final_breaks() const noexcept { return breaks_; }

  private:
    std::string_view text_;
    std::size_t breaks_ = 0;
};

// A line of an expression without the carriage returns that end it before
// its line feed: they are the line break's.
inline std::string_view without_returns(std::string_view line) noexcept {
    while (line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

// The selector path (`view:users/sql`) of the first pair whose meaning
// differs between the two documents, or of the block (`/` for the document)
// whose own comments differ; nullopt when they mean the same.
std::optional<std::string> first_difference(const Body& before, const Body& after);

} // namespace quarel
