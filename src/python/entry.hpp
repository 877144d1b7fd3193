// Entry points: every function the interpreter calls is registered through
// the adaptors below, which wrap it so that no C++ exception reaches the
// interpreter (std::bad_alloc becomes MemoryError, anything else
// SystemError) and hold the one cast of a function to the untyped pointer a
// method table or slot stores. An entry point's body, and whatever it
// allocates, therefore runs inside the wrapper.
#pragma once

#include "python/ref.hpp"

#include <new>
#include <type_traits>

namespace quarel::py {

namespace detail {

// The failure paths below are met only when memory runs out or the engine
// breaks; coverage counts them once per entry point, so they are left out.
// GCOVR_EXCL_START
template <class R> R failed() noexcept {
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else
        return -1;
}

template <auto F, class = decltype(F)> struct Shielded;
template <auto F, class R, class... A> struct Shielded<F, R (*)(A...)> {
    static R call(A... args) noexcept {
        try {
            return F(args...);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (...) {
            PyErr_SetString(PyExc_SystemError, "tallix_cst: internal error");
        }
        return failed<R>();
    }
};
// GCOVR_EXCL_STOP
// A function that cannot throw (a deallocator) needs no shield.
template <auto F, class R, class... A> struct Shielded<F, R (*)(A...) noexcept> {
    static R call(A... args) noexcept { return F(args...); }
};

template <auto F> PyObject* without_args(PyObject* self, PyObject*) {
    return F(self);
}
template <auto F> PyObject* getter(PyObject* self, void*) {
    return F(self);
}
template <auto F> int setter(PyObject* self, PyObject* value, void*) {
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "property has no deleter");
        return -1;
    }
    return F(self, value);
}

template <auto F> void* shielded() {
    return reinterpret_cast<void*>(&Shielded<F>::call);
}

} // namespace detail

// A method taking arguments: PyObject* f(PyObject* self, PyObject* args,
// PyObject* kwargs), with METH_STATIC among `flags` for a static method.
template <auto F> PyMethodDef method(const char* name, const char* doc, int flags = 0) {
    return {name, reinterpret_cast<PyCFunction>(detail::shielded<F>()),
            METH_VARARGS | METH_KEYWORDS | flags, doc};
}
// A method without arguments: PyObject* f(PyObject* self).
template <auto F> PyMethodDef method_noargs(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(detail::shielded<detail::without_args<F>>()),
            METH_NOARGS, doc};
}

// A property: PyObject* get(PyObject* self), and int set(PyObject* self,
// PyObject* value) unless it is read-only. Deleting it is refused.
template <auto Get> PyGetSetDef property(const char* name, const char* doc) {
    return {name, reinterpret_cast<getter>(detail::shielded<detail::getter<Get>>()), nullptr, doc,
            nullptr};
}
template <auto Get, auto Set> PyGetSetDef property(const char* name, const char* doc) {
    return {name, reinterpret_cast<getter>(detail::shielded<detail::getter<Get>>()),
            reinterpret_cast<setter>(detail::shielded<detail::setter<Set>>()), doc, nullptr};
}

// A type slot, or the module's exec slot, filled by F.
template <auto F> PyType_Slot slot(int id) {
    return {id, detail::shielded<F>()};
}
template <auto F> PyModuleDef_Slot module_slot(int id) {
    return {id, detail::shielded<F>()};
}

} // namespace quarel::py
