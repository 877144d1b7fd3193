#include "python/outline.hpp"

#include "edit/outline.hpp"
#include "edit/symbols.hpp"
#include "python/boundary.hpp"
#include "python/objects.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace quarel::py {

namespace {

// The kinds' names, in the order of Kind, made once.
PyObject* kind_names() {
    static PyObject* names = nullptr;
    if (!names) names = Py_BuildValue("(sssss)", "literal", "string", "expr", "list", "block");
    return names;
}

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

bool encoding_arg(PyObject* obj, PositionEncoding& out) {
    const std::optional<std::string> name = text_arg("symbols_json", "encoding", obj);
    if (!name) return false;
    if (*name == "utf-8")
        out = PositionEncoding::utf8;
    else if (*name == "utf-16")
        out = PositionEncoding::utf16;
    else if (*name == "utf-32")
        out = PositionEncoding::utf32;
    else {
        PyErr_Format(PyExc_ValueError,
                     "symbols_json() argument 'encoding' must be utf-8, utf-16 or utf-32, not %R",
                     obj);
        return false;
    }
    return true;
}

bool moves_arg(PyObject* obj, std::vector<TextMove>& out) {
    Ref items(PyObject_GetIter(obj));
    if (!items) return false;
    while (Ref item{PyIter_Next(items.get())}) {
        Py_ssize_t start = 0, end = 0, length = 0;
        if (!PyArg_ParseTuple(item.get(), "nnn", &start, &end, &length)) return false;
        if (start < 0 || end < start || length < 0) {
            PyErr_SetString(PyExc_ValueError, "symbols_json() argument 'moves' must hold "
                                              "(start, end, length) with 0 <= start <= end "
                                              "and length >= 0");
            return false;
        }
        out.push_back({static_cast<std::size_t>(start), static_cast<std::size_t>(end),
                       static_cast<std::size_t>(length)});
    }
    return !PyErr_Occurred();
}

bool kinds_arg(PyObject* obj, SymbolKinds& out) {
    Py_ssize_t kinds[6];
    if (!PyArg_ParseTuple(obj, "nnnnnn", &kinds[0], &kinds[1], &kinds[2], &kinds[3], &kinds[4],
                          &kinds[5]))
        return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (kinds[i] < 0) {
            PyErr_SetString(PyExc_ValueError, "symbols_json() argument 'kinds' must not be "
                                              "negative");
            return false;
        }
        out[i] = static_cast<std::size_t>(kinds[i]);
    }
    return true;
}

} // namespace

PyObject* document_symbols_json(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[4];
    if (!parse_args({"symbols_json", {"text", "encoding", "moves", "kinds"}, 4, 4}, args, kwargs,
                    arg))
        return nullptr;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!PyBytes_Check(arg[0])) {
        PyErr_Format(PyExc_TypeError, "symbols_json() argument 'text' must be bytes, not %s",
                     type_name(arg[0]).c_str());
        return nullptr;
    }
    PositionEncoding encoding{};
    std::vector<TextMove> moves;
    SymbolKinds kinds{};
    if (PyBytes_AsStringAndSize(arg[0], &data, &size) < 0 || !encoding_arg(arg[1], encoding) ||
        !moves_arg(arg[2], moves) || !kinds_arg(arg[3], kinds))
        return nullptr;
    const std::optional<Outline> outline = locked_outline(self);
    if (!outline) return nullptr;
    EditorLines lines(std::string_view(data, static_cast<std::size_t>(size)), encoding);
    SymbolsJson json(*outline, lines, moves, kinds);
    const std::size_t json_size = json.size();
    Ref bytes(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(json_size)));
    if (!bytes) return nullptr;
    json.write(PyBytes_AsString(bytes.get()));
    return bytes.release();
}

// Worked out under the document lock, made into Python objects once it is
// let go.
PyObject* document_outline(PyObject* self) {
    const std::optional<Outline> outline = locked_outline(self);
    if (!outline) return nullptr;
    PyObject* kinds = kind_names();
    Ref list(kinds ? PyList_New(static_cast<Py_ssize_t>(outline->entries.size())) : nullptr);
    for (std::size_t i = 0; list && i < outline->entries.size(); ++i) {
        Ref tuple = entry_tuple(*outline, outline->entries[i], kinds);
        if (!tuple) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), tuple.release());
    }
    return list.release();
}

} // namespace quarel::py
