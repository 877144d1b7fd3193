#include "python/syntax_error.hpp"

#include "python/boundary.hpp"
#include "python/source.hpp"

#include <string>

namespace quarel::py {

namespace {

// The exception object for the error, as raise_syntax_error raises it.
Ref syntax_error(const ParseError& error) {
    PyObject* type = syntax_error_type();
    if (!type) return Ref();
    std::string message = error.message + " at line " + std::to_string(error.line) + ", column " +
                          std::to_string(error.column);
    Ref exc(
        PyObject_CallFunction(type, "s#", message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!exc) return exc;
    // A failure to set one attribute must not stop the others.
    auto set = [&](const char* name, Ref value) {
        if (!value || PyObject_SetAttrString(exc.get(), name, value.get()) < 0) PyErr_Clear();
    };
    set("message", to_str(error.message));
    set("line", Ref(PyLong_FromUnsignedLongLong(error.line)));
    set("column", Ref(PyLong_FromUnsignedLongLong(error.column)));
    set("offset", Ref(PyLong_FromUnsignedLongLong(error.offset)));
    return exc;
}

} // namespace

PyObject* syntax_error_type() {
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "tallix_cst.QuarelSyntaxError",
        "Raised when Quarel source cannot be parsed. Has message (without the position), line, "
        "column and offset attributes.",
        PyExc_ValueError, nullptr);
    return type;
}

PyObject* raise_syntax_error(const ParseError& error) {
    Ref exc = syntax_error(error);
    if (exc) PyErr_SetObject(syntax_error_type(), exc.get());
    return nullptr;
}

PyObject* syntax_errors(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({"syntax_errors", {"text"}, 1, 1}, args, kwargs, arg)) return nullptr;
    auto source = source_arg("syntax_errors", "text", arg[0]);
    if (!source) return nullptr;
    std::vector<ParseError> errors = quarel::syntax_errors(source->encoded.text, source->file);
    Ref list(PyList_New(static_cast<Py_ssize_t>(errors.size())));
    for (std::size_t i = 0; list && i < errors.size(); ++i) {
        Ref exc = syntax_error(errors[i]);
        if (!exc) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), exc.release());
    }
    return list.release();
}

PyObject* recovered_text(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({"recovered_text", {"text"}, 1, 1}, args, kwargs, arg)) return nullptr;
    auto source = source_arg("recovered_text", "text", arg[0]);
    if (!source) return nullptr;
    const MendedText mended = quarel::mended_text(source->encoded.text, source->file);
    Ref text(
        PyBytes_FromStringAndSize(mended.text.data(), static_cast<Py_ssize_t>(mended.text.size())));
    Ref moves(PyList_New(static_cast<Py_ssize_t>(mended.inserted.size())));
    if (!text || !moves) return nullptr;
    // Each run put in is taken out again, the last first, so that the
    // offsets of each move are those of the text the ones before it left.
    for (std::size_t i = 0; i < mended.inserted.size(); ++i) {
        const auto& [at, length] = mended.inserted[mended.inserted.size() - 1 - i];
        PyObject* move = Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(at),
                                       static_cast<Py_ssize_t>(at + length), Py_ssize_t{0});
        if (!move) return nullptr;
        PyList_SetItem(moves.get(), static_cast<Py_ssize_t>(i), move);
    }
    return PyTuple_Pack(2, text.get(), moves.get());
}

} // namespace quarel::py
