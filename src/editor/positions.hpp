// Positions as editors count them: a line, ended by a line feed, a carriage
// return and line feed or a lone carriage return, and a character counted
// in the units of the encoding the editor chose.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace quarel {

enum class PositionEncoding { utf8, utf16, utf32 };

struct EditorPosition {
    std::size_t line;      // from 0
    std::size_t character; // from 0
};

class EditorLines {
  public:
    // `text` must outlive this.
    EditorLines(std::string_view text, PositionEncoding encoding);

    // Clamped to the text; an offset inside a character or a line break
    // stands for the start of it.
    EditorPosition position(std::size_t offset) noexcept;
    // Where the text of a line ends, before its line break.
    EditorPosition line_end(std::size_t line) noexcept { return position(text_end(line)); }

  private:
    std::size_t line_of(std::size_t offset) noexcept;
    std::size_t text_end(std::size_t line) const noexcept;

    std::string_view text_;
    PositionEncoding encoding_;
    std::vector<std::size_t> starts_;
    std::vector<bool> ascii_;   // by line: its characters are its bytes
    std::size_t last_line_ = 0; // offsets asked in text order mostly fall near it
};

// A stretch of a text replaced by `length` new bytes.
struct TextMove {
    std::size_t start;
    std::size_t end;
    std::size_t length;
};

// Where an offset of a text stands after the replacements `moves` made in
// it, in order; inside a replaced stretch, at its start.
std::size_t moved_offset(std::size_t offset, std::span<const TextMove> moves) noexcept;

} // namespace quarel
