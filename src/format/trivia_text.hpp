// Reading old text as formatting does: its line breaks as people see them
// (LF, CR LF, and a lone CR, which every editor shows as one), the
// indentation of a line, and the comments of trivia.
#pragma once

#include "parser/lexer.hpp"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

namespace quarel {

// The line breaks of the text: each LF (with the CR in front of it) and each
// CR that no LF follows.
inline std::size_t count_line_breaks(std::string_view text) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        count +=
            text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    return count;
}

// Whether the text holds a line break. (Asked of most trivia texts, which
// are a few bytes long: a loop costs less than a call.)
inline bool has_line_break(std::string_view text) noexcept {
    for (char c : text)
        if (c == '\n' || c == '\r') return true;
    return false;
}

// The line feeds of the text: the lines that a range of lines counts.
inline std::size_t count_line_feeds(std::string_view text) noexcept {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Where the last line of the text starts: after its last line break, or 0.
inline std::size_t last_line_start(std::string_view text) noexcept {
    for (std::size_t at = text.size(); at > 0; --at)
        if (text[at - 1] == '\n' || text[at - 1] == '\r') return at;
    return 0;
}

// The spaces and tabs a line starts with.
inline std::string_view indentation(std::string_view line) noexcept {
    std::size_t n = 0;
    while (n < line.size() && lex::is_inline_space(line[n])) ++n;
    return line.substr(0, n);
}

// A comment of trivia text and the line breaks in front of it.
struct TriviaComment {
    std::string_view text; // without the spaces and tabs that end its line
    std::size_t breaks;
};

// The comments of a trivia text, in order, then the line breaks after the
// last one. Every byte of trivia but its comments and line breaks is a
// space.
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

inline std::optional<TriviaComment> TriviaComments::next() noexcept {
    const std::size_t hash = text_.find('#');
    const std::size_t breaks = count_line_breaks(text_.substr(0, hash));
    if (hash == std::string_view::npos) {
        breaks_ = breaks;
        text_ = {};
        return std::nullopt;
    }
    const char* end = text_.data() + text_.size();
    const char* after = lex::skip_comment(text_.data() + hash, end);
    std::string_view comment(text_.data() + hash,
                             static_cast<std::size_t>(after - text_.data()) - hash);
    while (lex::is_inline_space(comment.back())) comment.remove_suffix(1);
    text_ = std::string_view(after, static_cast<std::size_t>(end - after));
    return TriviaComment{comment, breaks};
}

} // namespace quarel
