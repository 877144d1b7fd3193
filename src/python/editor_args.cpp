#include "python/editor_args.hpp"

#include "python/boundary.hpp"

#include <string>

namespace quarel::py {

std::optional<std::string_view> bytes_arg(const char* function, const char* param, PyObject* obj) {
    if (!PyBytes_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be bytes, not %s", function, param,
                     type_name(obj).c_str());
        return std::nullopt;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &size) < 0) return std::nullopt;
    return std::string_view(data, static_cast<std::size_t>(size));
}

bool encoding_arg(const char* function, PyObject* obj, PositionEncoding& out) {
    const std::optional<std::string> name = text_arg(function, "encoding", obj);
    if (!name) return false;
    if (*name == "utf-8")
        out = PositionEncoding::utf8;
    else if (*name == "utf-16")
        out = PositionEncoding::utf16;
    else if (*name == "utf-32")
        out = PositionEncoding::utf32;
    else {
        PyErr_Format(PyExc_ValueError,
                     "%s() argument 'encoding' must be utf-8, utf-16 or utf-32, not %R", function,
                     obj);
        return false;
    }
    return true;
}

bool moves_arg(const char* function, PyObject* obj, std::vector<TextMove>& out) {
    Ref items(PyObject_GetIter(obj));
    if (!items) return false;
    while (Ref item{PyIter_Next(items.get())}) {
        Py_ssize_t start = 0, end = 0, length = 0;
        if (!PyArg_ParseTuple(item.get(), "nnn", &start, &end, &length)) return false;
        if (start < 0 || end < start || length < 0) {
            PyErr_Format(PyExc_ValueError,
                         "%s() argument 'moves' must hold (start, end, length) with 0 <= start "
                         "<= end and length >= 0",
                         function);
            return false;
        }
        out.push_back({static_cast<std::size_t>(start), static_cast<std::size_t>(end),
                       static_cast<std::size_t>(length)});
    }
    return !PyErr_Occurred();
}

} // namespace quarel::py
