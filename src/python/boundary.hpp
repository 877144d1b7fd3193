// What every entry point of the extension needs at the Python boundary:
// argument extraction, text conversion, and turning C++ failures into
// Python exceptions.
#pragma once

#include "python/ref.hpp"

#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace quarel::py {

// Runs an entry point's body; a C++ exception never reaches the interpreter.
template <class R, class Fn> R shield(R on_error, Fn&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "tallix_cst: internal error");
    }
    return on_error;
}

// A function's parameters: the first `positional` may be given by position,
// the rest only by keyword; the first `required` must be given.
struct Signature {
    const char* function;
    std::initializer_list<const char*> names;
    std::size_t positional;
    std::size_t required;
};

// The name of the object's type, for messages.
std::string type_name(PyObject* obj);

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

// The error for an operation that meets a lock held further up the stack.
PyObject* raise_busy(const char* what);

} // namespace quarel::py
