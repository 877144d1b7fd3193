#include "python/syntax_error.hpp"

#include "python/boundary.hpp"

#include <string>

namespace quarel::py {

PyObject* syntax_error_type() {
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "tallix_cst.QuarelSyntaxError",
        "Raised when Quarel source cannot be parsed. Has message (without the position), line, "
        "column and offset attributes.",
        PyExc_ValueError, nullptr);
    return type;
}

PyObject* raise_syntax_error(const ParseError& error) {
    PyObject* type = syntax_error_type();
    if (!type) return nullptr;
    std::string message = error.message + " at line " + std::to_string(error.line) + ", column " +
                          std::to_string(error.column);
    Ref exc(
        PyObject_CallFunction(type, "s#", message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!exc) return nullptr;
    // A failure to set one attribute must not stop the others.
    auto set = [&](const char* name, Ref value) {
        if (!value || PyObject_SetAttrString(exc.get(), name, value.get()) < 0) PyErr_Clear();
    };
    set("message", to_str(error.message));
    set("line", Ref(PyLong_FromUnsignedLongLong(error.line)));
    set("column", Ref(PyLong_FromUnsignedLongLong(error.column)));
    set("offset", Ref(PyLong_FromUnsignedLongLong(error.offset)));
    PyErr_SetObject(type, exc.get());
    return nullptr;
}

} // namespace quarel::py
