#include "python/container.hpp"

#include "edit/find.hpp"
#include "edit/insert.hpp"
#include "edit/layout.hpp"
#include "edit/remove.hpp"
#include "edit/scalars.hpp"
#include "python/assign.hpp"
#include "python/boundary.hpp"
#include "python/convert.hpp"
#include "python/syntax_error.hpp"

#include <limits>
#include <vector>

namespace quarel::py {

namespace {

std::optional<std::string> key_arg(PyObject* key) {
    if (PyUnicode_Check(key)) return utf8(key);
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(key)), "__name__"));
    if (name) PyErr_Format(PyExc_TypeError, "key must be str, not %U", name.get());
    return std::nullopt;
}

// An argument that may be None (absent) or text.
bool optional_text(const char* function, const char* param, PyObject* obj,
                   std::optional<std::string>& out) {
    out.reset();
    if (!obj || obj == Py_None) return true;
    out = text_arg(function, param, obj);
    return out.has_value();
}

bool index_arg(const char* function, PyObject* obj, std::optional<long long>& out) {
    out.reset();
    if (!obj || obj == Py_None) return true;
    if (!PyLong_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'index' must be int or None", function);
        return false;
    }
    long long index = PyLong_AsLongLong(obj);
    if (index == -1 && PyErr_Occurred()) return false;
    out = index;
    return true;
}

// The insertion position for an index among n children.
bool resolve_index(std::optional<long long> index, std::size_t n, std::size_t& at) {
    if (!index) {
        at = n;
    } else if (*index >= 0) {
        at = std::min(static_cast<unsigned long long>(*index), static_cast<unsigned long long>(n));
    } else if (static_cast<unsigned long long>(-(*index + 1)) < n) {
        at = n - static_cast<std::size_t>(-(*index + 1)) - 1;
    } else {
        PyErr_SetString(PyExc_IndexError, "index out of range");
        return false;
    }
    return true;
}

// How many blocks enclose the container's children.
int child_depth(PyObject* self) {
    return is_pair(self) ? blocks_around(as_pair(self)->parent.get()) + 1 : 0;
}

Ref pair_list(const std::vector<PairRef>& pairs, const ParentPtr& parent) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; list && i < pairs.size(); ++i) {
        Ref obj = make_pair(pairs[i], parent);
        if (!obj) return obj;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), obj.release());
    }
    return list;
}

// The children matching key (and name), in order; `first` stops at the
// first. Nullopt with the error set when the container cannot serve.
std::optional<std::vector<PairRef>> matching(PyObject* self, std::string_view key,
                                             const std::optional<std::string>& name, bool first) {
    ContainerLock access(container_of(self), ContainerLock::shared);
    if (!access) return access.raise(), std::nullopt;
    std::optional<std::string_view> wanted;
    if (name) wanted = *name;
    auto found =
        find_all(access.body(), key, wanted, first ? 1 : std::numeric_limits<std::size_t>::max());
    if (std::holds_alternative<Busy>(found)) return raise_busy("pair"), std::nullopt;
    return std::get<std::vector<PairRef>>(std::move(found));
}

// The value of the first child with key. `missing` tells an absent child
// from a failure (which sets the error).
Ref first_value(PyObject* self, std::string_view key, bool& missing) {
    missing = false;
    auto found = matching(self, key, std::nullopt, true);
    if (!found) return Ref();
    if (found->empty()) {
        missing = true;
        return Ref();
    }
    const PairRef& child = found->front();
    ReadGuard guard(child.lock());
    if (!guard) return Ref(raise_busy("pair"));
    return value_to_py(child->value);
}

// Every pair under the body, pre-order, with the parent it is reached through.
bool collect_walk(const Body& body, const ParentPtr& parent,
                  std::vector<std::pair<PairRef, ParentPtr>>& out) {
    for (const PairRef& child : body.pairs) {
        out.emplace_back(child, parent);
        ReadGuard guard(child.lock());
        if (!guard) return false;
        if (const Block* block = block_of(child->value)) {
            auto inner = std::make_shared<const Parent>(Parent{{}, child, parent});
            if (!collect_walk(block->body, inner, out)) return false;
        }
    }
    return true;
}

// Inserts a new pair holding `value` (checked and converted) and returns
// its Pair object.
Ref add_pair(PyObject* self, const std::string& key, Value value, std::optional<long long> index) {
    if (!check_kind_fits(key, kind_of(value))) return Ref();
    if (kind_of(value) == Kind::block && !check_depth(child_depth(self) + 1)) return Ref();
    std::optional<PairRef> added;
    {
        const Style style = document_style(self);
        ContainerLock access(container_of(self), ContainerLock::exclusive);
        if (!access) return Ref(access.raise());
        std::size_t at;
        if (!resolve_index(index, access.body().pairs.size(), at)) return Ref();
        added = insert(access.body(), at, new_pair(key, std::move(value)), access.base_indent(),
                       access.top_level(), style);
        if (!added) return Ref(raise_busy("pair"));
    }
    return make_pair(std::move(*added), as_parent(self));
}

PyObject* children_get(PyObject* self, void*) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        std::vector<PairRef> children;
        {
            ContainerLock access(container_of(self), ContainerLock::shared);
            if (!access) return access.raise();
            children = access.body().pairs;
        }
        return pair_list(children, as_parent(self)).release();
    });
}

PyObject* find(PyObject* self, PyObject* args, PyObject* kwargs, const char* function, bool first) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[2];
        if (!parse_args({function, {"key", "name"}, 2, 1}, args, kwargs, arg)) return nullptr;
        auto key = text_arg(function, "key", arg[0]);
        std::optional<std::string> name;
        if (!key || !optional_text(function, "name", arg[1], name)) return nullptr;
        auto found = matching(self, *key, name, first);
        if (!found) return nullptr;
        if (!first) return pair_list(*found, as_parent(self)).release();
        if (found->empty()) Py_RETURN_NONE;
        return make_pair(found->front(), as_parent(self)).release();
    });
}

PyObject* find_first(PyObject* self, PyObject* args, PyObject* kwargs) {
    return find(self, args, kwargs, "find", true);
}

PyObject* find_all(PyObject* self, PyObject* args, PyObject* kwargs) {
    return find(self, args, kwargs, "find_all", false);
}

PyObject* get(PyObject* self, PyObject* args, PyObject* kwargs) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[2];
        if (!parse_args({"get", {"key", "default"}, 2, 1}, args, kwargs, arg)) return nullptr;
        auto key = text_arg("get", "key", arg[0]);
        if (!key) return nullptr;
        bool missing;
        Ref value = first_value(self, *key, missing);
        if (missing) return Ref::borrow(arg[1] ? arg[1] : Py_None).release();
        return value.release();
    });
}

PyObject* walk(PyObject* self, PyObject*) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        std::vector<std::pair<PairRef, ParentPtr>> visited;
        {
            ContainerLock access(container_of(self), ContainerLock::shared);
            if (!access) return access.raise();
            if (!collect_walk(access.body(), as_parent(self), visited)) return raise_busy("pair");
        }
        Ref list(PyList_New(static_cast<Py_ssize_t>(visited.size())));
        for (std::size_t i = 0; list && i < visited.size(); ++i) {
            Ref obj = make_pair(std::move(visited[i].first), std::move(visited[i].second));
            if (!obj) return nullptr;
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), obj.release());
        }
        return list.release();
    });
}

PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[5];
        if (!parse_args({"add", {"key", "value", "name", "kind", "index"}, 2, 1}, args, kwargs,
                        arg))
            return nullptr;
        auto key = text_arg("add", "key", arg[0]);
        std::optional<std::string> name, kind;
        std::optional<long long> index;
        if (!key || !optional_text("add", "name", arg[2], name) || !kind_arg("add", arg[3], kind) ||
            !index_arg("add", arg[4], index) || !validate_token(*key, "key"))
            return nullptr;
        std::optional<std::string_view> kind_view;
        if (kind) kind_view = *kind;
        std::optional<Value> value;
        if (arg[1] && arg[1] != Py_None) {
            if (name) {
                PyErr_SetString(PyExc_ValueError, "name can only be given for a block value");
                return nullptr;
            }
            value = value_from_py(*key, arg[1], kind_view, nullptr, child_depth(self));
        } else {
            if (name && !validate_token(*name, "block name")) return nullptr;
            if (kind && *kind != "block") {
                PyErr_SetString(PyExc_ValueError, ("a " + *kind + " value needs a value").c_str());
                return nullptr;
            }
            std::optional<std::string_view> name_view;
            if (name) name_view = *name;
            value = block_value(name_view);
        }
        if (!value) return nullptr;
        return add_pair(self, *key, std::move(*value), index).release();
    });
}

PyObject* add_source(PyObject* self, PyObject* args, PyObject* kwargs) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[2];
        if (!parse_args({"add_source", {"source", "index"}, 2, 1}, args, kwargs, arg))
            return nullptr;
        auto source = encoded_arg("add_source", "source", arg[0]);
        std::optional<long long> index;
        if (!source || !index_arg("add_source", arg[1], index) || !check_depth(child_depth(self)))
            return nullptr;
        std::variant<std::vector<PairRef>, ParseError, Busy> result;
        {
            const Style style = document_style(self);
            ContainerLock access(container_of(self), ContainerLock::exclusive);
            if (!access) return access.raise();
            std::size_t at;
            if (!resolve_index(index, access.body().pairs.size(), at)) return nullptr;
            result = insert_source(access.body(), at, source->text, access.base_indent(),
                                   access.top_level(), child_depth(self), style);
        }
        if (auto* error = std::get_if<ParseError>(&result)) return raise_syntax_error(*error);
        if (std::holds_alternative<Busy>(result)) return raise_busy("pair");
        return pair_list(std::get<std::vector<PairRef>>(result), as_parent(self)).release();
    });
}

PyObject* remove(PyObject* self, PyObject* args, PyObject* kwargs) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[2];
        if (!parse_args({"remove", {"target", "name"}, 2, 1}, args, kwargs, arg)) return nullptr;
        std::optional<std::string> key, name;
        if (!is_pair(arg[0])) {
            if (!PyUnicode_Check(arg[0])) {
                PyErr_SetString(PyExc_TypeError, "remove() takes a Pair or a key");
                return nullptr;
            }
            key = utf8(arg[0]);
            if (!key || !optional_text("remove", "name", arg[1], name)) return nullptr;
        }
        ContainerLock access(container_of(self), ContainerLock::exclusive);
        if (!access) return access.raise();
        PairRef target;
        if (key) {
            std::optional<std::string_view> wanted;
            if (name) wanted = *name;
            auto found = quarel::find(access.body(), *key, wanted);
            if (std::holds_alternative<Busy>(found)) return raise_busy("pair");
            target = std::get<PairRef>(found);
            if (!target) Py_RETURN_FALSE;
        } else {
            target = as_pair(arg[0])->pair;
        }
        switch (remove_pair(access.body(), target, access.top_level())) {
        case Removal::removed: Py_RETURN_TRUE;
        case Removal::absent: Py_RETURN_FALSE;
        case Removal::busy: break;
        }
        return raise_busy("pair");
    });
}

int delete_item(PyObject* self, const std::string& key, PyObject* key_obj) {
    ContainerLock access(container_of(self), ContainerLock::exclusive);
    if (!access) return access.raise(), -1;
    auto found = quarel::find(access.body(), key, std::nullopt);
    if (std::holds_alternative<Busy>(found)) return raise_busy("pair"), -1;
    const PairRef& target = std::get<PairRef>(found);
    if (!target) {
        PyErr_SetObject(PyExc_KeyError, key_obj);
        return -1;
    }
    if (remove_pair(access.body(), target, access.top_level()) != Removal::removed)
        return raise_busy("pair"), -1;
    return 0;
}

} // namespace

ContainerRef container_of(PyObject* self) {
    if (is_pair(self)) return {nullptr, &as_pair(self)->pair};
    return {&as_document(self)->root, nullptr};
}

ContainerRef container_of(const Parent& parent) {
    if (parent.document) return {&parent.document, nullptr};
    return {nullptr, &parent.block};
}

ContainerLock::ContainerLock(ContainerRef container, Mode mode)
    : mode_(mode), document_(container.document != nullptr) {
    RwLock& lock = container.block ? container.block->lock() : container.document->lock();
    if (!(mode == shared ? lock.try_lock_shared() : lock.try_lock())) return;
    lock_ = &lock;
    if (container.document) {
        body_ = &**container.document;
    } else {
        pair_ = &**container.block;
        Block* block = block_of((*container.block)->value);
        if (!block) {
            status_ = not_a_block;
            return;
        }
        body_ = &block->body;
    }
    status_ = ok;
}

ContainerLock::~ContainerLock() {
    if (!lock_) return;
    if (mode_ == shared)
        lock_->unlock_shared();
    else
        lock_->unlock();
}

PyObject* ContainerLock::raise() const {
    if (status_ == not_a_block) {
        PyErr_SetString(PyExc_TypeError, quarel::py::not_a_block(*pair_).c_str());
        return nullptr;
    }
    return raise_busy(document_ ? "document" : "pair");
}

std::string ContainerLock::base_indent() const {
    return pair_ ? std::string(line_indent(pair_->leading)) : std::string();
}

namespace {

Style style_under(const DocHandle& document) {
    ReadGuard guard(document.lock());
    return guard ? infer_style(*document) : Style{};
}

} // namespace

Style document_style(PyObject* self) {
    if (is_pair(self)) return document_style(as_pair(self)->parent.get());
    return style_under(as_document(self)->root);
}

Style document_style(const Parent* parent) {
    for (; parent; parent = parent->up.get())
        if (parent->document) return style_under(parent->document);
    return Style{};
}

ParentPtr as_parent(PyObject* self) {
    if (!is_pair(self))
        return std::make_shared<const Parent>(Parent{as_document(self)->root, {}, {}});
    PairObject* p = as_pair(self);
    return std::make_shared<const Parent>(Parent{{}, p->pair, p->parent});
}

std::string not_a_block(const Pair& pair) {
    return "`" + pair.key.str() + "` is a " + std::string(kind_name(kind_of(pair.value))) +
           ", not a block";
}

namespace {

Py_ssize_t container_len(PyObject* self) {
    return shield<Py_ssize_t>(-1, [&]() -> Py_ssize_t {
        ContainerLock access(container_of(self), ContainerLock::shared);
        if (!access) return access.raise(), -1;
        return static_cast<Py_ssize_t>(access.body().pairs.size());
    });
}

PyObject* container_subscript(PyObject* self, PyObject* key_obj) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        auto key = key_arg(key_obj);
        if (!key) return nullptr;
        bool missing;
        Ref value = first_value(self, *key, missing);
        if (missing) PyErr_SetObject(PyExc_KeyError, key_obj);
        return value.release();
    });
}

int container_ass_subscript(PyObject* self, PyObject* key_obj, PyObject* value) {
    return shield<int>(-1, [&]() -> int {
        auto key = key_arg(key_obj);
        if (!key) return -1;
        if (!value) return delete_item(self, *key, key_obj);
        auto found = matching(self, *key, std::nullopt, true);
        if (!found) return -1;
        if (!found->empty()) return assign_value(found->front(), as_parent(self), value) ? 0 : -1;
        if (!validate_token(*key, "key")) return -1;
        auto converted = value_from_py(*key, value, std::nullopt, nullptr, child_depth(self));
        if (!converted) return -1;
        return add_pair(self, *key, std::move(*converted), std::nullopt) ? 0 : -1;
    });
}

int container_contains(PyObject* self, PyObject* key_obj) {
    return shield<int>(-1, [&]() -> int {
        auto key = key_arg(key_obj);
        if (!key) return -1;
        auto found = matching(self, *key, std::nullopt, true);
        if (!found) return -1;
        return found->empty() ? 0 : 1;
    });
}

PyObject* container_iter(PyObject* self) {
    Ref children(children_get(self, nullptr));
    return children ? PyObject_GetIter(children.get()) : nullptr;
}

PyMethodDef container_methods[] = {
    {"find", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find_first)),
     METH_VARARGS | METH_KEYWORDS,
     "find($self, key, name=None)\n--\n\nThe first child with key, and block name when given, "
     "or None."},
    {"find_all", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find_all)),
     METH_VARARGS | METH_KEYWORDS,
     "find_all($self, key, name=None)\n--\n\nEvery child with key, and block name when given."},
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(get)),
     METH_VARARGS | METH_KEYWORDS,
     "get($self, key, default=None)\n--\n\nThe value of the first child with key, or default."},
    {"add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add)),
     METH_VARARGS | METH_KEYWORDS,
     "add($self, key, value=None, *, name=None, kind=None, index=None)\n--\n\nAdds a child pair "
     "and returns it. Without a value the child is a block, named\nwhen name is given. kind "
     "forces the value's form: literal, string, expr, list\nor block. index defaults to the "
     "end."},
    {"add_source", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add_source)),
     METH_VARARGS | METH_KEYWORDS,
     "add_source($self, source, index=None)\n--\n\nParses a Quarel snippet and inserts its pairs, "
     "re-indented to fit, returning them."},
    {"remove", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(remove)),
     METH_VARARGS | METH_KEYWORDS,
     "remove($self, target, name=None)\n--\n\nRemoves a child given its Pair, or the first child "
     "with a key (and name).\nReturns whether a child was removed."},
    {"walk", walk, METH_NOARGS,
     "walk($self)\n--\n\nEvery pair under this container, depth first in source order."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef container_getset[] = {
    {"children", children_get, nullptr, "The pairs directly inside this container.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char* name_of(const PyMethodDef& d) {
    return d.ml_name;
}
const char* name_of(const PyGetSetDef& d) {
    return d.name;
}

// The shared entries, then the class's own; kept as long as the type lives.
template <class Def> Def* join(const Def* shared, const Def* own) {
    auto* table = new std::vector<Def>();
    for (const Def* list : {shared, own})
        for (const Def* d = list; d && name_of(*d); ++d) table->push_back(*d);
    table->push_back(Def{});
    return table->data();
}

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
    if (!name) return nullptr;
    PyErr_Format(PyExc_TypeError, "cannot create 'tallix_cst.%U' instances", name.get());
    return nullptr;
}

} // namespace

PyObject* create_container_type(const char* name, int basicsize, const char* doc,
                                void (*dealloc)(PyObject*), const PyType_Slot* own_slots,
                                const PyMethodDef* own_methods, const PyGetSetDef* own_getset) {
    std::vector<PyType_Slot> slots = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
        {Py_tp_iter, reinterpret_cast<void*>(container_iter)},
        {Py_mp_length, reinterpret_cast<void*>(container_len)},
        {Py_mp_subscript, reinterpret_cast<void*>(container_subscript)},
        {Py_mp_ass_subscript, reinterpret_cast<void*>(container_ass_subscript)},
        {Py_sq_contains, reinterpret_cast<void*>(container_contains)},
        {Py_tp_methods, join(container_methods, own_methods)},
        {Py_tp_getset, join(container_getset, own_getset)},
    };
    for (const PyType_Slot* slot = own_slots; slot->slot; ++slot) slots.push_back(*slot);
    slots.push_back({0, nullptr});
    PyType_Spec spec = {name, basicsize, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    return PyType_FromSpec(&spec);
}

} // namespace quarel::py
