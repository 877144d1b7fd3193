#include "python/assign.hpp"

#include "edit/checked_value.hpp"
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
    std::optional<Snapshot> s;
    {
        ReadGuard guard(pair.lock());
        if (!guard) return raise_error(ErrorCode::pair_busy), std::nullopt;
        s = Snapshot{pair->key.str(), kind_of(pair->value), std::nullopt};
        if (const List* list = list_of(pair->value)) s->list = *list;
    }
    return s;
}

// Assigns the checked value, provided the pair still has the kind that the
// conversion kept, when it kept one. The container is locked first, for the
// engine to keep the next pair from running into the value.
std::optional<EditError> store(const PairRef& pair, const ParentPtr& parent, std::size_t& place,
                               CheckedValue value, std::optional<Kind> kept) {
    std::optional<ContainerLock> container;
    if (parent) {
        container.emplace(container_of(*parent), ContainerLock::exclusive);
        if (container->status() == ContainerLock::busy) return container->error();
        if (!*container) container.reset(); // no longer a block: the pair is not in it
    }
    WriteGuard guard(pair.lock());
    if (!guard) return make_error(ErrorCode::pair_busy);
    if (kept && kind_of(pair->value) != *kept) return make_error(ErrorCode::changed_meanwhile);
    Body* body = container ? &container->body() : nullptr;
    return assign(body, pair, std::move(value), body ? place_in(*body, pair, place) : 0);
}

// Checks the value for the pair's key and depth, then stores it.
bool check_and_store(const PairRef& pair, const ParentPtr& parent, std::size_t& place, Value value,
                     const Snapshot& before, std::optional<Kind> kept) {
    auto checked = check_value(before.key, std::move(value), blocks_around(parent.get()));
    std::optional<EditError> error;
    if (auto* refused = std::get_if<EditError>(&checked))
        error = std::move(*refused);
    else
        error = store(pair, parent, place, std::get<CheckedValue>(std::move(checked)), kept);
    if (error) return raise_error(*error), false;
    return true;
}

} // namespace

bool assign_value(const PairRef& pair, const ParentPtr& parent, std::size_t& place, PyObject* obj) {
    auto before = snapshot(pair);
    if (!before) return false;
    const std::string& key = before->key;
    Kind kind = before->kind;
    std::optional<Value> value;
    switch (kind) {
    case Kind::list: value = value_from_py(key, obj, Kind::list, &*before->list); break;
    case Kind::block:
        PyErr_SetString(PyExc_TypeError,
                        ("`" + key + "` is a block; edit its children or use set_value()").c_str());
        return false;
    default:
        if (PyList_Check(obj) || PyDict_Check(obj)) {
            std::string message = "`" + key + "` holds a " + std::string(kind_name(kind)) +
                                  "; use set_value(value, kind=\"list\") to change it";
            PyErr_SetString(PyExc_TypeError, message.c_str());
            return false;
        }
        // A literal given text that cannot stand bare becomes a string.
        auto given = given_from_py(obj, kind);
        if (!given) return false;
        auto made = new_value(key, *given, assigned_kind(kind, *given), nullptr);
        if (auto* error = std::get_if<EditError>(&made)) return raise_error(*error), false;
        value = std::get<Value>(std::move(made));
    }
    return value && check_and_store(pair, parent, place, std::move(*value), *before, before->kind);
}

bool replace_value(const PairRef& pair, const ParentPtr& parent, std::size_t& place, PyObject* obj,
                   std::optional<Kind> kind) {
    auto before = snapshot(pair);
    if (!before) return false;
    const List* existing = before->list ? &*before->list : nullptr;
    auto value = value_from_py(before->key, obj, kind, existing);
    return value && check_and_store(pair, parent, place, std::move(*value), *before, std::nullopt);
}

} // namespace quarel::py
