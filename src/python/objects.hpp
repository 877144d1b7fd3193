// The Python object layouts of Document and Pair, and how they are made.
#pragma once

#include "cst/locations.hpp"
#include "cst/tree.hpp"
#include "edit/style.hpp"
#include "python/ref.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace quarel::py {

// Something worked out from a tree, good while no tree has been edited
// since (write_locks_taken unchanged).
template <class T> class Kept {
  public:
    const T* get() const noexcept {
        return value_ && edits_ == write_locks_taken.load(std::memory_order_relaxed) ? &*value_
                                                                                     : nullptr;
    }
    const T& set(T value) {
        edits_ = write_locks_taken.load(std::memory_order_relaxed);
        value_ = std::move(value);
        return *value_;
    }
    // The value as last worked out, good or not: an estimate.
    const T* last() const noexcept { return value_ ? &*value_ : nullptr; }
    void clear() noexcept { value_.reset(); }

  private:
    std::uint64_t edits_ = 0;
    std::optional<T> value_;
};

// A document: its root body, where its pairs stand in its text and the size
// of that text, as last worked out. The kept results are filled under the
// document's shared lock: they are no part of the tree, and every caller
// holds the interpreter lock.
struct Root {
    // `printed`: the size of the source the body was parsed from, which it
    // prints back to.
    Root(Body root, std::size_t printed) : body(std::move(root)) { printed_size.set(printed); }
    Body body;
    Kept<Locations> located;
    Kept<std::size_t> printed_size;
    // The document's style, kept across its edits (see document_style).
    std::optional<Style> style;
};
using DocHandle = Shared<Root>;

// The container a Pair object was handed out from: a document, or a block
// pair together with that pair's own parent, so the chain up to the
// document stays alive and can be walked.
struct Parent {
    DocHandle document; // set for a document parent
    PairRef block;      // set for a pair parent
    std::shared_ptr<const Parent> up;
    std::size_t place = 0; // the block pair's place in `up`, as PairObject::place
};
using ParentPtr = std::shared_ptr<const Parent>;

// The document at the top of the chain; null for a chain that ends at a
// detached block.
inline const DocHandle* document_of(const Parent* parent) {
    for (; parent; parent = parent->up.get())
        if (parent->document) return &parent->document;
    return nullptr;
}

// How many blocks enclose a pair with this parent, as far as the chain tells
// (a pair detached since then stands no deeper). Edits keep every value
// within the nesting the parser reads, counted from here.
inline int blocks_around(const Parent* parent) {
    int n = 0;
    for (; parent && parent->block; parent = parent->up.get()) ++n;
    return n;
}

struct DocumentObject {
    PyObject_HEAD DocHandle root;
};

struct PairObject {
    PyObject_HEAD PairRef pair;
    ParentPtr parent;
    // Where the pair stood in its parent's body when last seen: where an
    // operation looks for it first (position_of), so that one on a pair of
    // a large block does not scan the block. Only ever a hint.
    std::size_t place;
};

// The types, created once by the module's initialisation.
PyTypeObject* pair_type();
PyTypeObject* document_type();
PyObject* create_document_type();
PyObject* create_pair_type();

Ref make_document(DocHandle root);
Ref make_pair(PairRef pair, ParentPtr parent, std::size_t place = 0);

inline DocumentObject* as_document(PyObject* o) {
    return reinterpret_cast<DocumentObject*>(o);
}
inline PairObject* as_pair(PyObject* o) {
    return reinterpret_cast<PairObject*>(o);
}
inline bool is_pair(PyObject* o) {
    return PyObject_TypeCheck(o, pair_type());
}
inline bool is_document(PyObject* o) {
    return PyObject_TypeCheck(o, document_type());
}

// Frees an object of either class.
template <class T> void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<T*>(self)->~T();
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

} // namespace quarel::py
