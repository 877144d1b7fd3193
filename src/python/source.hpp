// The source a parse reads: text (str), or the UTF-8 bytes of a file (bytes
// or bytearray), in which a leading U+FEFF is the byte-order mark.
#pragma once

#include "python/boundary.hpp"

#include <optional>

namespace quarel::py {

struct Source {
    Encoded encoded;
    bool file; // given as bytes
};

// The argument `param` of `function` as source; nullopt with TypeError for
// another type, or with Python's UnicodeDecodeError for bytes that are not
// UTF-8.
std::optional<Source> source_arg(const char* function, const char* param, PyObject* arg);

} // namespace quarel::py
