#include "python/source.hpp"

#include "parser/utf8.hpp"

namespace quarel::py {

namespace {

// Bytes are parsed where they lie, once they prove to be UTF-8; for bytes
// that are not, Python's own decoder raises the UnicodeDecodeError, with its
// position and reason.
std::optional<Encoded> bytes_source(PyObject* source) {
    const bool is_bytes = PyBytes_Check(source);
    const char* data = is_bytes ? PyBytes_AsString(source) : PyByteArray_AsString(source);
    const Py_ssize_t size = is_bytes ? PyBytes_Size(source) : PyByteArray_Size(source);
    if (!data || size < 0) return std::nullopt;
    std::string_view text(data, static_cast<std::size_t>(size));
    if (!valid_utf8(text) && !Ref(PyUnicode_DecodeUTF8(data, size, "strict"))) return std::nullopt;
    Py_INCREF(source);
    return Encoded{Ref(source), text};
}

} // namespace

std::optional<Source> source_arg(const char* function, const char* param, PyObject* arg) {
    const bool file = PyBytes_Check(arg) || PyByteArray_Check(arg);
    if (!file && !PyUnicode_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, bytes or bytearray, not %s",
                     function, param, type_name(arg).c_str());
        return std::nullopt;
    }
    auto encoded = file ? bytes_source(arg) : encoded_arg(function, param, arg);
    if (!encoded) return std::nullopt;
    return Source{std::move(*encoded), file};
}

} // namespace quarel::py
