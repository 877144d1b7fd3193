#include "python/objects.hpp"

#include <vector>

namespace quarel::py {

namespace {

const char* name_of(const PyMethodDef& d) {
    return d.ml_name;
}
const char* name_of(const PyGetSetDef& d) {
    return d.name;
}

template <class Def> Def* join(const Def* shared, const Def* own) {
    auto* table = new std::vector<Def>(); // lives as long as the type
    for (const Def* list : {shared, own})
        for (const Def* d = list; d && name_of(*d); ++d) table->push_back(*d);
    table->push_back(Def{});
    return table->data();
}

} // namespace

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
    if (!name) return nullptr;
    PyErr_Format(PyExc_TypeError, "cannot create 'tallix_cst.%U' instances", name.get());
    return nullptr;
}

PyMethodDef* join_methods(const PyMethodDef* shared, const PyMethodDef* own) {
    return join(shared, own);
}

PyGetSetDef* join_getset(const PyGetSetDef* shared, const PyGetSetDef* own) {
    return join(shared, own);
}

} // namespace quarel::py
