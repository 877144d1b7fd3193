// What every entry point of the extension needs at the Python boundary:
// argument extraction, text conversion, and turning the engine's refusals
// into Python exceptions.
#pragma once

#include "edit/error.hpp"
#include "python/ref.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace quarel::py {

// A function's parameters: the first `positional` may be given by position,
// the rest only by keyword; the first `required` must be given.
struct Signature {
    const char* function;
    std::initializer_list<const char*> names;
    std::size_t positional;
    std::size_t required;
};

// Fills out[i] with a borrowed reference to each given argument (null when
// absent). Returns false with a TypeError set for a bad call.
bool parse_args(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// The UTF-8 text of a str; nullopt with the interpreter's error set (for
// example UnicodeEncodeError for lone surrogates).
std::optional<std::string> utf8(PyObject* str);
// Like utf8, but first raises TypeError "f() argument 'p' must be str, not T"
// when the object is not a str.
std::optional<std::string> text_arg(const char* function, const char* param, PyObject* obj);
// The UTF-8 text of a str argument left in the bytes object that encoding
// made, for large texts that need not be copied again.
struct Encoded {
    Ref bytes;
    std::string_view text;
};
std::optional<Encoded> encoded_arg(const char* function, const char* param, PyObject* obj);
// A new str from UTF-8 text.
Ref to_str(std::string_view text);
// The name of the object's type, for messages.
std::string type_name(PyObject* obj);

// Raises the exception for the engine's refusal; returns null.
PyObject* raise_error(const EditError& error);
PyObject* raise_error(ErrorCode code);

} // namespace quarel::py
