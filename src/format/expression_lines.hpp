// The lines of an expression's text as formatting reads them. Each line
// after the first starts behind a line feed (and the carriage returns in
// front of it). A line that starts inside a quoted literal opened on an
// earlier line (single or double quotes, a doubled quote standing for one),
// or inside a <pre>, <textarea> or <script> element of an `html`
// expression, is the user's text to the byte, the line break in front of
// it included: formatting writes it as it is, and the safety check
// compares it so.
#pragma once

#include <optional>
#include <string_view>

namespace quarel {

struct ExpressionLine {
    std::string_view text;       // without the carriage returns that end it before its LF
    std::string_view line_break; // in front of it; empty for the first line
    bool verbatim;               // it starts inside a literal or a raw element
};

class ExpressionLines {
  public:
    ExpressionLines(std::string_view key, std::string_view text) noexcept;
    std::optional<ExpressionLine> next() noexcept;

  private:
    // Follows quotes and raw elements through a line.
    void read(std::string_view line) noexcept;

    std::string_view rest_;
    std::string_view line_break_;
    bool html_;
    bool done_ = false;
    char quote_ = 0;       // the quote of the literal open, if any
    std::string_view raw_; // the name of the raw html element open, if any
};

} // namespace quarel
