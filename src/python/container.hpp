// Documents and block pairs as containers of pairs: the operations both
// classes share, written once over the access below.
#pragma once

#include "edit/error.hpp"
#include "edit/style.hpp"
#include "python/objects.hpp"

#include <optional>
#include <string>

namespace quarel::py {

// A container: a document's root body, or a pair whose value is a block.
struct ContainerRef {
    const DocHandle* document = nullptr;
    const PairRef* block = nullptr;
};
ContainerRef container_of(PyObject* self); // a Document or Pair object
ContainerRef container_of(const Parent& parent);
// Whether the two stand for the same body.
bool same_container(ContainerRef a, ContainerRef b) noexcept;

// Takes a container's lock and finds its body. The lock may be found taken
// (busy: see cst/shared.hpp), and a pair may no longer hold a block; the
// object then tests false, holds no lock, and error() tells why.
class ContainerLock {
  public:
    enum Mode { shared, exclusive };
    enum Status { ok, busy, not_a_block };
    ContainerLock(ContainerRef container, Mode mode);
    ContainerLock(const ContainerLock&) = delete;
    ContainerLock& operator=(const ContainerLock&) = delete;
    ~ContainerLock();

    explicit operator bool() const noexcept { return status_ == ok; }
    Status status() const noexcept { return status_; }
    // Why the lock failed.
    EditError error() const;

    Body& body() const noexcept { return *body_; }
    // The layout context of new children.
    bool top_level() const noexcept { return pair_ == nullptr; }
    std::string base_indent() const;

  private:
    void unlock() noexcept;

    RwLock* lock_ = nullptr;
    Mode mode_;
    bool document_;
    Status status_ = busy;
    const Pair* pair_ = nullptr;
    Body* body_ = nullptr;
    std::optional<EditError> not_a_block_;
};

// Where the body holds the pair, looked for first at `place` (a Pair
// object's hint), which is brought up to date when the body holds it.
// Returns `place` as it then is, for the engine to look at first again.
std::size_t place_in(const Body& body, const PairRef& pair, std::size_t& place) noexcept;

// The style of the document that a container (a Document or Pair object),
// or a pair with this parent, belongs to. Worked out under the document's
// lock, taken and released here: call it before locking the container.
Style document_style(PyObject* self);
Style document_style(const Parent* parent);

// Document.pairs_at(offset).
PyObject* document_pairs_at(PyObject* self, PyObject* args, PyObject* kwargs);

// The parent given to every Pair object the container hands out.
ParentPtr as_parent(PyObject* self);

// How many blocks enclose the container's children.
int child_depth(PyObject* self);

// An `index` argument: None (nullopt) or an int in the signed 64-bit range.
// False with the error set.
bool index_arg(const char* function, PyObject* obj, std::optional<long long>& out);
// An `offset` argument: an int, of bytes of the text; nullopt for one that
// is negative or past any text. False with the error set.
bool offset_arg(const char* function, PyObject* obj, std::optional<std::size_t>& out);
// The insertion position for an index among n children; nullopt for a
// negative index below -n.
std::optional<std::size_t> position(std::optional<long long> index, std::size_t n);

// A class whose objects are containers: the shared methods, properties and
// mapping slots, then the class's own (`own_slots` ends with {0, nullptr}).
// Neither class can be instantiated from Python.
PyObject* create_container_type(const char* name, int basicsize, const char* doc,
                                const PyType_Slot* own_slots, const PyMethodDef* own_methods,
                                const PyGetSetDef* own_getset);

} // namespace quarel::py
