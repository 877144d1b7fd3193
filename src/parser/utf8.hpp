// Strict UTF-8 validation, for source given as bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarel {

// Where the first invalid sequence of `text` starts, or text.size() when
// the whole text is valid UTF-8. Invalid are overlong forms, surrogates,
// code points past U+10FFFF and sequences cut short, as a strict decoder
// has them.
std::size_t invalid_utf8_at(std::string_view text) noexcept;

inline bool valid_utf8(std::string_view text) noexcept {
    return invalid_utf8_at(text) == text.size();
}

} // namespace quarel
