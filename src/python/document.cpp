// The Document class: parsing entry points and whole-document printing.
#include "cst/printer.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/objects.hpp"
#include "python/syntax_error.hpp"

#include <string>
#include <variant>

namespace quarel::py {

namespace {

PyTypeObject* type_ = nullptr;

PyObject* parse_with(const char* function, PyObject* args, PyObject* kwargs) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[1];
        if (!parse_args({function, {"source"}, 1, 1}, args, kwargs, arg)) return nullptr;
        auto source = encoded_arg(function, "source", arg[0]);
        if (!source) return nullptr;
        auto result = parse(source->text);
        if (auto* error = std::get_if<ParseError>(&result)) return raise_syntax_error(*error);
        return make_document(DocHandle::make(std::move(std::get<Body>(result)))).release();
    });
}

PyObject* document_to_string(PyObject* self, PyObject*) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        const DocHandle& root = as_document(self)->root;
        ReadGuard guard(root.lock());
        Printout printed;
        if (!guard || !print_body(*root, printed)) return raise_busy("document");
        std::string buffer;
        return to_str(printed.joined(buffer)).release();
    });
}

PyObject* document_repr(PyObject* self) {
    const DocHandle& root = as_document(self)->root;
    ReadGuard guard(root.lock());
    if (!guard) return raise_busy("document");
    return PyUnicode_FromFormat("<Document with %zu pairs>", root->pairs.size());
}

PyObject* document_parse(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_with("parse", args, kwargs);
}

PyMethodDef own_methods[] = {
    {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_parse)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "parse(source)\n--\n\nParses Quarel source into a Document."},
    {"to_string", document_to_string, METH_NOARGS,
     "to_string($self)\n--\n\nThe document as Quarel source."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyObject* parse_quarel(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_with("parse_quarel", args, kwargs);
}

PyTypeObject* document_type() {
    return type_;
}

PyObject* create_document_type() {
    if (type_) return reinterpret_cast<PyObject*>(type_);
    static const PyType_Slot slots[] = {
        {Py_tp_str, reinterpret_cast<void*>(
                        +[](PyObject* self) { return document_to_string(self, nullptr); })},
        {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
        {0, nullptr},
    };
    type_ = reinterpret_cast<PyTypeObject*>(create_container_type(
        "tallix_cst.Document", sizeof(DocumentObject),
        "A parsed Quarel file. str() returns the source, including any edits.",
        dealloc<DocumentObject>, slots, own_methods, nullptr));
    return reinterpret_cast<PyObject*>(type_);
}

Ref make_document(DocHandle root) {
    Ref obj(PyType_GenericAlloc(type_, 0));
    if (obj) new (&as_document(obj.get())->root) DocHandle(std::move(root));
    return obj;
}

} // namespace quarel::py
