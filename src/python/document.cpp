// The Document class: parsing entry points and whole-document printing.
#include "cst/printer.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/entry.hpp"
#include "python/objects.hpp"
#include "python/syntax_error.hpp"

#include <optional>
#include <string>
#include <variant>

namespace quarel::py {

namespace {

PyTypeObject* type_ = nullptr;

PyObject* parse_with(const char* function, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({function, {"source"}, 1, 1}, args, kwargs, arg)) return nullptr;
    auto source = encoded_arg(function, "source", arg[0]);
    if (!source) return nullptr;
    auto result = parse(source->text);
    if (auto* error = std::get_if<ParseError>(&result)) return raise_syntax_error(*error);
    return make_document(DocHandle::make(std::move(std::get<Body>(result)))).release();
}

PyObject* document_to_string(PyObject* self) {
    const DocHandle& root = as_document(self)->root;
    std::string out;
    bool printed;
    {
        ReadGuard guard(root.lock());
        printed = guard && print_body(*root, out);
    }
    if (!printed) return raise_error(ErrorCode::document_busy);
    return to_str(out).release();
}

PyObject* document_repr(PyObject* self) {
    const DocHandle& root = as_document(self)->root;
    std::optional<std::size_t> size;
    {
        ReadGuard guard(root.lock());
        if (guard) size = root->pairs.size();
    }
    if (!size) return raise_error(ErrorCode::document_busy);
    return PyUnicode_FromFormat("<Document with %zu pairs>", *size);
}

PyObject* document_parse(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_with("parse", args, kwargs);
}

} // namespace

PyObject* parse_quarel(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_with("parse_quarel", args, kwargs);
}

PyObject* create_document_type() {
    if (type_) return reinterpret_cast<PyObject*>(type_);
    const PyMethodDef methods[] = {
        method<document_parse>(
            "parse", "parse(source)\n--\n\nParses Quarel source into a Document.", METH_STATIC),
        method_noargs<document_to_string>("to_string",
                                          "to_string($self)\n--\n\nThe document as Quarel source."),
        {nullptr, nullptr, 0, nullptr},
    };
    const PyType_Slot slots[] = {
        slot<dealloc<DocumentObject>>(Py_tp_dealloc),
        slot<document_to_string>(Py_tp_str),
        slot<document_repr>(Py_tp_repr),
        {0, nullptr},
    };
    type_ = reinterpret_cast<PyTypeObject*>(create_container_type(
        "tallix_cst.Document", sizeof(DocumentObject),
        "A parsed Quarel file. str() returns the source, including any edits.", slots, methods,
        nullptr));
    return reinterpret_cast<PyObject*>(type_);
}

Ref make_document(DocHandle root) {
    Ref obj(PyType_GenericAlloc(type_, 0));
    if (obj) new (&as_document(obj.get())->root) DocHandle(std::move(root));
    return obj;
}

} // namespace quarel::py
