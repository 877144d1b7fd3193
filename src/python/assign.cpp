#include "python/assign.hpp"

#include "edit/replace.hpp"
#include "edit/separation.hpp"
#include "parser/lexer.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/convert.hpp"

namespace quarel::py {

namespace {

// What the conversion needs to know of the pair, read under its lock.
struct Snapshot {
    std::string key;
    Kind kind;
    std::optional<List> list;
};

std::optional<Snapshot> snapshot(const PairRef& pair) {
    ReadGuard guard(pair.lock());
    if (!guard) return raise_busy("pair"), std::nullopt;
    Snapshot s{pair->key.str(), kind_of(pair->value), std::nullopt};
    if (const List* list = list_of(pair->value)) s.list = *list;
    return s;
}

bool changed_meanwhile() {
    PyErr_SetString(PyExc_RuntimeError,
                    "the pair was changed while its new value was being converted");
    return false;
}

// Stores the converted value, provided the pair still has the key (and,
// when given, the kind) that the conversion was made for. A new literal must
// not run into the next pair, so its container is locked first when known.
bool store(const PairRef& pair, const ParentPtr& parent, Value value, const Snapshot& before,
           bool keep_kind) {
    std::optional<ContainerLock> container;
    if (parent && kind_of(value) == Kind::literal) {
        container.emplace(container_of(*parent), ContainerLock::exclusive);
        if (container->status() == ContainerLock::busy) return container->raise(), false;
        if (!*container) container.reset(); // no longer a block: the pair is not in it
    }
    WriteGuard guard(pair.lock());
    if (!guard) return raise_busy("pair"), false;
    if (pair->key != before.key || (keep_kind && kind_of(pair->value) != before.kind))
        return changed_meanwhile();
    if (container && !separate_after(container->body(), pair, value))
        return raise_busy("pair"), false;
    set_value(*pair, std::move(value));
    return true;
}

} // namespace

bool assign_value(const PairRef& pair, const ParentPtr& parent, PyObject* obj) {
    auto before = snapshot(pair);
    if (!before) return false;
    const std::string& key = before->key;
    std::string_view kind = kind_name(before->kind);
    std::optional<Value> value;
    switch (before->kind) {
    case Kind::list:
        value = value_from_py(key, obj, "list", &*before->list, blocks_around(parent.get()));
        break;
    case Kind::block:
        PyErr_SetString(PyExc_TypeError,
                        ("`" + key + "` is a block; edit its children or use set_value()").c_str());
        return false;
    default:
        if (PyList_Check(obj) || PyDict_Check(obj)) {
            std::string message = "`" + key + "` holds a " + std::string(kind) +
                                  "; use set_value(value, kind=\"list\") to change it";
            PyErr_SetString(PyExc_TypeError, message.c_str());
            return false;
        }
        // A literal pair given text that cannot stand bare becomes a string.
        if (before->kind == Kind::literal && PyUnicode_Check(obj)) {
            auto text = utf8(obj);
            if (!text) return false;
            if (!lex::is_bare_token(*text)) kind = "string";
        }
        value = value_from_py(key, obj, kind, nullptr, blocks_around(parent.get()));
    }
    return value && store(pair, parent, std::move(*value), *before, true);
}

bool replace_value(const PairRef& pair, const ParentPtr& parent, PyObject* obj,
                   const std::optional<std::string>& kind) {
    auto before = snapshot(pair);
    if (!before) return false;
    std::optional<std::string_view> kind_view;
    if (kind) kind_view = *kind;
    const List* existing = before->list ? &*before->list : nullptr;
    auto value = value_from_py(before->key, obj, kind_view, existing, blocks_around(parent.get()));
    return value && check_kind_fits(before->key, kind_of(*value)) &&
           store(pair, parent, std::move(*value), *before, false);
}

} // namespace quarel::py
