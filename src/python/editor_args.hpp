// What the methods that answer an editor share: the editor's text, its
// position encoding, the edits made since a parse, and JSON handed back as
// the bytes of an object made at its measured size.
#pragma once

#include "edit/editor_positions.hpp"
#include "python/ref.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace quarel::py {

// The contents of a bytes argument, valid while the call holds it.
std::optional<std::string_view> bytes_arg(const char* function, const char* param, PyObject* obj);
// utf-8, utf-16 or utf-32.
bool encoding_arg(const char* function, PyObject* obj, PositionEncoding& out);
// An iterable of (start, end, length) with 0 <= start <= end, length >= 0.
bool moves_arg(const char* function, PyObject* obj, std::vector<TextMove>& out);

// The bytes of what `json` writes: it is measured, and written into the
// new object in place.
template <class Json> PyObject* json_bytes(Json& json) {
    Ref bytes(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(json.size())));
    if (bytes) json.write(PyBytes_AsString(bytes.get()));
    return bytes.release();
}

} // namespace quarel::py
