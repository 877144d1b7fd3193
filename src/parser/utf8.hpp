// Strict UTF-8 validation of source handed over as bytes.
#pragma once

#include <string_view>

namespace quarel {

// Whether the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short.
bool is_valid_utf8(std::string_view bytes) noexcept;

} // namespace quarel
