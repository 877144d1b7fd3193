#include "editor/positions.hpp"

#include <algorithm>

namespace quarel {

namespace {

bool continues(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// UTF-16 takes two units for a code point past the basic plane, which
// UTF-8 writes in four bytes.
std::size_t units(std::string_view text, PositionEncoding encoding) noexcept {
    std::size_t count = 0;
    for (char c : text)
        if (!continues(c))
            count += encoding == PositionEncoding::utf16 && static_cast<unsigned char>(c) >= 0xF0
                         ? 2
                         : 1;
    return count;
}

} // namespace

EditorLines::EditorLines(std::string_view text, PositionEncoding encoding)
    : text_(text), encoding_(encoding), starts_{0} {
    bool ascii = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (c == '\n' || (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            starts_.push_back(i + 1);
            ascii_.push_back(ascii);
            ascii = true;
        }
    }
    ascii_.push_back(ascii);
}

std::size_t EditorLines::line_of(std::size_t offset) noexcept {
    const auto holds = [&](std::size_t line) {
        return line < starts_.size() && starts_[line] <= offset &&
               (line + 1 == starts_.size() || offset < starts_[line + 1]);
    };
    if (!holds(last_line_) && !holds(++last_line_)) {
        const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
        last_line_ = static_cast<std::size_t>(after - starts_.begin()) - 1;
    }
    return last_line_;
}

std::size_t EditorLines::text_end(std::size_t line) const noexcept {
    const std::size_t start = starts_[line];
    std::size_t end = line + 1 == starts_.size() ? text_.size() : starts_[line + 1];
    while (end > start && (text_[end - 1] == '\n' || text_[end - 1] == '\r')) --end;
    return end;
}

EditorPosition EditorLines::position(std::size_t offset) noexcept {
    offset = std::min(offset, text_.size());
    const std::size_t line = line_of(offset);
    const std::size_t start = starts_[line];
    std::size_t column = std::min(offset, text_end(line)) - start;
    if (ascii_[line]) return {line, column};
    while (column > 0 && start + column < text_.size() && continues(text_[start + column]))
        --column;
    if (encoding_ == PositionEncoding::utf8) return {line, column};
    return {line, units(text_.substr(start, column), encoding_)};
}

std::size_t moved_offset(std::size_t offset, std::span<const TextMove> moves) noexcept {
    for (const TextMove& move : moves) {
        if (offset >= move.end)
            offset = offset + move.length - (move.end - move.start);
        else if (offset > move.start)
            offset = move.start;
    }
    return offset;
}

} // namespace quarel
