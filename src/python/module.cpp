// The extension module `_native`: registers the public names in order.
#include "python/boundary.hpp"
#include "python/entry.hpp"
#include "python/format.hpp"
#include "python/location.hpp"
#include "python/names.hpp"
#include "python/objects.hpp"
#include "python/syntax_error.hpp"

#include <cstdint>

namespace quarel::py {

PyObject* parse_quarel(PyObject*, PyObject* args, PyObject* kwargs);

namespace {

// Sets the attribute, outside __all__.
bool add_attribute(PyObject* module, const char* name, PyObject* object) {
    if (!object) return false;
    Py_INCREF(object);
    if (PyModule_AddObject(module, name, object) < 0) {
        Py_DECREF(object);
        return false;
    }
    return true;
}

// Appends the name to __all__ (creating it), then sets the attribute.
bool add_public(PyObject* module, const char* name, PyObject* object) {
    if (!object) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    Ref text(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
    return add_attribute(module, name, object);
}

// The classes and the exception type are made once per process, so the
// module serves the first interpreter that imports it and refuses others,
// which would otherwise share that interpreter's objects.
bool in_first_interpreter() {
    static std::int64_t first = -1;
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id < 0) return false;
    if (first < 0) first = id;
    if (id == first) return true;
    PyErr_SetString(PyExc_ImportError,
                    "tallix_cst cannot be imported in a subinterpreter: it is already loaded in "
                    "another interpreter of this process");
    return false;
}

int exec_module(PyObject* module) {
    if (!in_first_interpreter()) return -1;
    static PyMethodDef parse_quarel_def = method<parse_quarel>(
        "parse_quarel",
        "parse_quarel(source)\n--\n\nParses Quarel source into a Document: text (str), or the "
        "UTF-8 bytes of a\n"
        "file (bytes or bytearray), whose byte-order mark stays apart from the first key.");
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    Ref function(PyCFunction_NewEx(&parse_quarel_def, module, module_name.get()));
    bool ok = add_public(module, "Document", create_document_type()) &&
              add_public(module, "Pair", create_pair_type()) &&
              add_public(module, "parse_quarel", function.get()) &&
              add_public(module, "QuarelSyntaxError", syntax_error_type());
    if (!ok) return -1;
    // Location, syntax_errors and recovered_text are the package's
    // (tallix_cst.Location, ...), outside _native's __all__.
    static PyMethodDef syntax_errors_def = method<syntax_errors>(
        "syntax_errors",
        "syntax_errors(text)\n--\n\nEvery syntax error of Quarel source, in order, as "
        "QuarelSyntaxError objects\n"
        "(empty when it parses): the first is the one parse_quarel raises; after each,\n"
        "reading goes on at the next line that starts a `key:` no deeper than the\n"
        "failing one, or that closes the block with `}`. Takes what parse_quarel takes.");
    Ref errors_function(PyCFunction_NewEx(&syntax_errors_def, module, module_name.get()));
    static PyMethodDef recovered_text_def = method<recovered_text>(
        "recovered_text",
        "recovered_text(text)\n--\n\nThe text as the recovering parse of syntax_errors() "
        "reads it, and how to\n"
        "read its offsets in the text given: (mended, moves), the UTF-8 bytes of the text\n"
        "with every stretch the recovery skipped blanked out (line breaks kept) and a `}`\n"
        "put in where it closed a block, so that they parse as the pairs it kept, at\n"
        "their offsets; moves, (start, end, length) replacements made in order, take out\n"
        "what was put in. Takes what parse_quarel takes.");
    Ref recovered_function(PyCFunction_NewEx(&recovered_text_def, module, module_name.get()));
    // The engine's tables of names, which the package reads rather than
    // repeats.
    return add_attribute(module, "Location", create_location_type()) &&
                   add_attribute(module, "syntax_errors", errors_function.get()) &&
                   add_attribute(module, "recovered_text", recovered_function.get()) &&
                   add_attribute(module, "KINDS", kind_names_tuple()) &&
                   add_attribute(module, "TOKEN_KINDS", token_kind_names_tuple()) &&
                   add_attribute(module, "FORMAT_OPTIONS", format_option_defaults())
               ? 0
               : -1;
}

PyModuleDef_Slot module_slots[] = {
    module_slot<exec_module>(Py_mod_exec),
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "The native core of tallix_cst.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

} // namespace

} // namespace quarel::py

PyMODINIT_FUNC PyInit__native() {
    return PyModuleDef_Init(&quarel::py::module_def);
}
