#include "python/names.hpp"

#include "cst/tree.hpp"
#include "editor/tokens.hpp"

#include <span>
#include <string_view>

namespace quarel::py {

namespace {

PyObject* tuple_of(std::span<const std::string_view> names) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    for (std::size_t i = 0; tuple && i < names.size(); ++i) {
        PyObject* name =
            PyUnicode_FromStringAndSize(names[i].data(), static_cast<Py_ssize_t>(names[i].size()));
        if (!name) return nullptr;
        PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), name);
    }
    return tuple.release();
}

} // namespace

PyObject* kind_names_tuple() {
    static PyObject* names = nullptr;
    if (!names) names = tuple_of(kind_names);
    return names;
}

PyObject* token_kind_names_tuple() {
    static PyObject* names = nullptr;
    if (!names) names = tuple_of(token_kind_names);
    return names;
}

} // namespace quarel::py
