// How wide text shows, in columns: what the column width of the formatter
// measures.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarel {

// A tab counts this many columns wherever it stands.
inline constexpr std::size_t tab_columns = 4;

// The columns of a code point: two for East Asian wide and fullwidth
// characters, none for combining marks and other characters of no width of
// their own (format controls such as the zero-width joiner, Hangul medial
// vowels), one for the others.
std::size_t code_point_columns(char32_t c) noexcept;

// The columns of UTF-8 text without line feeds: each code point's, and a
// tab's; none for a CR, which ends a line in front of its LF in a CR LF
// file. A byte that starts no valid sequence counts one column.
std::size_t columns(std::string_view text) noexcept;

} // namespace quarel
