#include "python/boundary.hpp"

#include <cstring>

namespace quarel::py {

bool parse_args(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
    std::size_t count = sig.names.size();
    for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
    Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    if (static_cast<std::size_t>(given) > sig.positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zu positional argument%s (%zd given)",
                     sig.function, sig.positional, sig.positional == 1 ? "" : "s", given);
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) out[i] = PyTuple_GetItem(args, i);
    if (kwargs) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            auto name = utf8(key);
            if (!name) return false;
            std::size_t i = 0;
            for (const char* n : sig.names) {
                if (*name == n) break;
                ++i;
            }
            if (i == count) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'",
                             sig.function, name->c_str());
                return false;
            }
            if (out[i]) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                             sig.function, name->c_str());
                return false;
            }
            out[i] = value;
        }
    }
    std::size_t i = 0;
    for (const char* n : sig.names) {
        if (i < sig.required && !out[i]) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", sig.function, n);
            return false;
        }
        ++i;
    }
    return true;
}

namespace {

std::optional<Encoded> encode(PyObject* str) {
    Ref bytes(PyUnicode_AsUTF8String(str));
    if (!bytes) return std::nullopt;
    char* data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return std::nullopt;
    return Encoded{std::move(bytes), std::string_view(data, static_cast<std::size_t>(size))};
}

bool check_str(const char* function, const char* param, PyObject* obj) {
    if (PyUnicode_Check(obj)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %s", function, param,
                 type_name(obj).c_str());
    return false;
}

} // namespace

std::optional<std::string> utf8(PyObject* str) {
    auto encoded = encode(str);
    if (!encoded) return std::nullopt;
    return std::string(encoded->text);
}

std::optional<std::string> text_arg(const char* function, const char* param, PyObject* obj) {
    if (!check_str(function, param, obj)) return std::nullopt;
    return utf8(obj);
}

std::optional<Encoded> encoded_arg(const char* function, const char* param, PyObject* obj) {
    if (!check_str(function, param, obj)) return std::nullopt;
    return encode(obj);
}

Ref to_str(std::string_view text) {
    return Ref(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

std::string type_name(PyObject* obj) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
    auto text = name ? utf8(name.get()) : std::nullopt;
    PyErr_Clear();
    return text ? *text : "object";
}

PyObject* raise_error(const EditError& error) {
    PyObject* type = nullptr;
    switch (error.code) {
    case ErrorCode::invalid_token:
    case ErrorCode::expr_key_needs_expr:
    case ErrorCode::expr_for_other_key:
    case ErrorCode::rename_across_kinds:
    case ErrorCode::expr_terminator:
    case ErrorCode::too_deep:
    case ErrorCode::unknown_kind:
    case ErrorCode::line_break_in_comment:
    case ErrorCode::move_into_itself:
    case ErrorCode::format_changes_meaning: type = PyExc_ValueError; break;
    case ErrorCode::not_a_block: type = PyExc_TypeError; break;
    case ErrorCode::index_out_of_range: type = PyExc_IndexError; break;
    case ErrorCode::pair_busy:
    case ErrorCode::document_busy:
    case ErrorCode::changed_meanwhile:
    case ErrorCode::moved_away:
    case ErrorCode::unreadable_move: type = PyExc_RuntimeError; break;
    }
    PyErr_SetString(type, error.message.c_str());
    return nullptr;
}

PyObject* raise_error(ErrorCode code) {
    return raise_error(make_error(code));
}

} // namespace quarel::py
