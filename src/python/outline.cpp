#include "python/outline.hpp"

#include "editor/outline.hpp"
#include "python/boundary.hpp"
#include "python/names.hpp"
#include "python/objects.hpp"

#include <optional>
#include <string_view>

namespace quarel::py {

namespace {

PyObject* text(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* borrowed(PyObject* object) {
    Py_XINCREF(object);
    return object;
}

Ref entry_tuple(const Outline& outline, const OutlineEntry& entry, PyObject* kinds) {
    PyObject* const items[] = {
        text(outline.view(entry.key)),
        entry.named ? text(outline.view(entry.name)) : borrowed(Py_None),
        borrowed(PyTuple_GetItem(kinds, static_cast<Py_ssize_t>(entry.kind))),
        entry.kind == Kind::block ? borrowed(Py_None) : text(outline.view(entry.preview)),
        PyLong_FromSize_t(entry.depth),
        PyLong_FromSize_t(entry.start.line),
        PyLong_FromSize_t(entry.start.column),
        PyLong_FromSize_t(entry.start.offset),
        PyLong_FromSize_t(entry.end.line),
        PyLong_FromSize_t(entry.end.column),
        PyLong_FromSize_t(entry.end.offset),
        PyLong_FromSize_t(entry.key_end_column),
    };
    Ref tuple(PyTuple_New(std::size(items)));
    bool complete = static_cast<bool>(tuple);
    for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(std::size(items)); ++i) {
        if (!items[i]) complete = false;
        if (tuple && items[i])
            PyTuple_SetItem(tuple.get(), i, items[i]);
        else
            Py_XDECREF(items[i]);
    }
    if (!complete) return Ref();
    // Texts and numbers make no cycle: untracked, hundreds of thousands of
    // such tuples do not set the collector off again and again.
    PyObject_GC_UnTrack(tuple.get());
    return tuple;
}

} // namespace

std::optional<Outline> locked_outline(PyObject* self) {
    const DocHandle& document = as_document(self)->root;
    std::optional<Outline> outline;
    {
        ReadGuard guard(document.lock());
        if (guard) outline = outline_of(document->body);
    }
    if (!outline) raise_error(ErrorCode::document_busy);
    return outline;
}

// Worked out under the document lock, made into Python objects once it is
// let go.
PyObject* document_outline(PyObject* self) {
    const std::optional<Outline> outline = locked_outline(self);
    if (!outline) return nullptr;
    PyObject* kinds = kind_names_tuple();
    Ref list(kinds ? PyList_New(static_cast<Py_ssize_t>(outline->entries.size())) : nullptr);
    for (std::size_t i = 0; list && i < outline->entries.size(); ++i) {
        Ref tuple = entry_tuple(*outline, outline->entries[i], kinds);
        if (!tuple) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), tuple.release());
    }
    return list.release();
}

} // namespace quarel::py
