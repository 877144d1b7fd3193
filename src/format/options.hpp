// The formatter's options, each named once and given its default once: the
// binding takes Document.format's arguments by these names, writes its
// signature from these defaults, and hands the table to the Python package
// (format_text, the configuration files and the command line's help).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace quarel {

struct FormatOptions {
    std::optional<std::string> indent;  // the document's own step when absent
    std::optional<std::string> newline; // the document's own line break when absent
    std::size_t max_blank_lines = 1;
    std::size_t column_width = 100;
    bool final_newline = true;
    // Only the pairs whose key stands on these lines (from 1, both
    // included) are formatted, with everything inside them.
    std::optional<std::pair<std::size_t, std::size_t>> lines;
};

// In the order of FormatOptions' fields.
enum class FormatOption { indent, newline, max_blank_lines, column_width, final_newline, lines };
inline constexpr std::array<const char*, 6> format_option_names = {
    "indent", "newline", "max_blank_lines", "column_width", "final_newline", "lines"};
static_assert(format_option_names.size() == static_cast<std::size_t>(FormatOption::lines) + 1);

} // namespace quarel
