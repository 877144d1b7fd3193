// The Pair class: one `key: value` entry of a document.
#include "python/boundary.hpp"
#include "python/objects.hpp"

namespace quarel::py {

namespace {

PyTypeObject* type_ = nullptr;

} // namespace

PyTypeObject* pair_type() {
    return type_;
}

PyObject* create_pair_type() {
    if (type_) return reinterpret_cast<PyObject*>(type_);
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("A `key: value` entry in a document, such as `type: number` "
                                      "or `dimension: id { ... }`.")},
        {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PairObject>)},
        {0, nullptr},
    };
    PyType_Spec spec = {"tallix_cst.Pair", sizeof(PairObject), 0, Py_TPFLAGS_DEFAULT, slots};
    type_ = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    return reinterpret_cast<PyObject*>(type_);
}

Ref make_pair(PairRef pair, ParentPtr parent) {
    Ref obj(PyType_GenericAlloc(type_, 0));
    if (!obj) return obj;
    PairObject* p = as_pair(obj.get());
    new (&p->pair) PairRef(std::move(pair));
    new (&p->parent) ParentPtr(std::move(parent));
    return obj;
}

} // namespace quarel::py
