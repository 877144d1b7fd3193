#include "python/container.hpp"

#include "edit/block_name.hpp"
#include "edit/checked_value.hpp"
#include "edit/depth.hpp"
#include "edit/find.hpp"
#include "edit/insert.hpp"
#include "edit/layout.hpp"
#include "edit/remove.hpp"
#include "edit/scalars.hpp"
#include "edit/token.hpp"
#include "editor/at_offset.hpp"
#include "python/assign.hpp"
#include "python/boundary.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/location.hpp"
#include "python/syntax_error.hpp"

#include <limits>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

std::optional<std::string> key_arg(PyObject* key) {
    if (PyUnicode_Check(key)) return utf8(key);
    PyErr_Format(PyExc_TypeError, "key must be str, not %s", type_name(key).c_str());
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

} // namespace

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

bool offset_arg(const char* function, PyObject* obj, std::optional<std::size_t>& out) {
    out.reset();
    if (!PyLong_Check(obj) || PyBool_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'offset' must be int, not %s", function,
                     type_name(obj).c_str());
        return false;
    }
    int overflow = 0;
    const long long offset = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (offset == -1 && PyErr_Occurred()) return false;
    if (overflow == 0 && offset >= 0) out = static_cast<std::size_t>(offset);
    return true;
}

std::optional<std::size_t> position(std::optional<long long> index, std::size_t n) {
    if (!index) return n;
    if (*index >= 0)
        return std::min(static_cast<unsigned long long>(*index),
                        static_cast<unsigned long long>(n));
    if (static_cast<unsigned long long>(-(*index + 1)) < n)
        return n - static_cast<std::size_t>(-(*index + 1)) - 1;
    return std::nullopt;
}

int child_depth(PyObject* self) {
    return is_pair(self) ? blocks_around(as_pair(self)->parent.get()) + 1 : 0;
}

namespace {

// Some of a body's pairs, in its order, with their places in it.
struct Placed {
    std::vector<PairRef> pairs;
    std::vector<std::size_t> places;
};

// `pairs` placed in the body, which holds them in this order.
Placed placed_in(const Body& body, std::vector<PairRef> pairs) {
    std::vector<std::size_t> places;
    places.reserve(pairs.size());
    std::size_t at = 0;
    for (const PairRef& pair : pairs) {
        while (!body.pairs[at].same(pair)) ++at;
        places.push_back(at++);
    }
    return {std::move(pairs), std::move(places)};
}

// `count` pairs from `first` on.
std::vector<std::size_t> places_from(std::size_t first, std::size_t count) {
    std::vector<std::size_t> places(count);
    for (std::size_t i = 0; i < count; ++i) places[i] = first + i;
    return places;
}

Ref pair_list(const Placed& placed, const ParentPtr& parent) {
    const std::vector<PairRef>& pairs = placed.pairs;
    Ref list(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; list && i < pairs.size(); ++i) {
        Ref obj = make_pair(pairs[i], parent, placed.places[i]);
        if (!obj) return obj;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), obj.release());
    }
    return list;
}

// The children matching key (and name), in order, up to `limit`.
std::variant<Placed, EditError> matching(PyObject* self, std::string_view key,
                                         std::optional<std::string_view> name, std::size_t limit) {
    ContainerLock access(container_of(self), ContainerLock::shared);
    if (!access) return access.error();
    auto found = find_all(access.body(), key, name, limit);
    if (std::holds_alternative<Busy>(found)) return make_error(ErrorCode::pair_busy);
    return placed_in(access.body(), std::get<std::vector<PairRef>>(std::move(found)));
}

// The first child with key, a null handle for none; nullopt with the error
// set when the container cannot serve.
std::optional<PairRef> first_child(PyObject* self, std::string_view key) {
    auto found = matching(self, key, std::nullopt, 1);
    if (auto* error = std::get_if<EditError>(&found)) return raise_error(*error), std::nullopt;
    auto& children = std::get<Placed>(found).pairs;
    return children.empty() ? PairRef() : std::move(children.front());
}

// The value of the first child with key. `missing` tells an absent child
// from a failure (which sets the error).
Ref first_value(PyObject* self, std::string_view key, bool& missing) {
    missing = false;
    auto child = first_child(self, key);
    if (!child) return Ref();
    if (!*child) {
        missing = true;
        return Ref();
    }
    std::optional<ValueCopy> value;
    {
        ReadGuard guard(child->lock());
        if (guard) value = copy_value((*child)->value);
    }
    if (!value) return Ref(raise_error(ErrorCode::pair_busy));
    return value_to_py(*value);
}

// A pair met on a walk, with the parent it is reached through and its place
// there.
struct Visited {
    PairRef pair;
    ParentPtr parent;
    std::size_t place;
};

// Every pair under the body, pre-order. Nothing else runs while it reads, so
// it checks locks instead of taking them.
bool collect_walk(const Body& body, const ParentPtr& parent, std::vector<Visited>& out) {
    for (std::size_t i = 0; i < body.pairs.size(); ++i) {
        const PairRef& child = body.pairs[i];
        out.push_back({child, parent, i});
        if (child.lock().writing()) return false;
        if (const Block* block = block_of(child->value)) {
            auto inner = std::make_shared<const Parent>(Parent{{}, child, parent, i});
            if (!collect_walk(block->body, inner, out)) return false;
        }
    }
    return true;
}

// How many pairs are under the body; false when one is locked for writing.
bool count_pairs(const Body& body, std::size_t& count) {
    count += body.pairs.size();
    for (const PairRef& child : body.pairs) {
        if (child.lock().writing()) return false;
        if (const Block* block = block_of(child->value))
            if (!count_pairs(block->body, count)) return false;
    }
    return true;
}

std::variant<std::vector<Visited>, EditError> walk_pairs(PyObject* self) {
    ContainerLock access(container_of(self), ContainerLock::shared);
    if (!access) return access.error();
    // Counted first: growing the list step by step moved every entry twice.
    std::size_t count = 0;
    if (!count_pairs(access.body(), count)) return make_error(ErrorCode::pair_busy);
    std::vector<Visited> visited;
    visited.reserve(count);
    if (!collect_walk(access.body(), as_parent(self), visited))
        return make_error(ErrorCode::pair_busy);
    return visited;
}

// What insert(access, at, style) returns, with the container locked
// exclusively and `index` resolved among its children: the insertion
// prologue of add() and add_source().
template <class Result, class Insert>
Result insert_at(PyObject* self, std::optional<long long> index, Insert insert) {
    const Style style = document_style(self);
    ContainerLock access(container_of(self), ContainerLock::exclusive);
    if (!access) return access.error();
    auto at = position(index, access.body().pairs.size());
    if (!at) return make_error(ErrorCode::index_out_of_range);
    return insert(access, *at, style);
}

std::variant<Placed, EditError> insert_pair(PyObject* self, CheckedValue value,
                                            std::optional<long long> index) {
    using Result = std::variant<Placed, EditError>;
    return insert_at<Result>(
        self, index, [&](ContainerLock& access, std::size_t at, const Style& style) -> Result {
            auto added = quarel::add(access.body(), at, std::move(value), access.base_indent(),
                                     access.top_level(), style);
            if (auto* error = std::get_if<EditError>(&added)) return std::move(*error);
            return Placed{{std::get<PairRef>(std::move(added))}, {at}};
        });
}

// Inserts a new pair holding `value` and returns its Pair object. The value
// is checked before the container is looked at.
Ref add_pair(PyObject* self, const std::string& key, Value value, std::optional<long long> index) {
    auto checked = check_value(key, std::move(value), child_depth(self));
    if (auto* error = std::get_if<EditError>(&checked)) return Ref(raise_error(*error));
    auto added = insert_pair(self, std::get<CheckedValue>(std::move(checked)), index);
    if (auto* failure = std::get_if<EditError>(&added)) return Ref(raise_error(*failure));
    const Placed& placed = std::get<Placed>(added);
    return make_pair(placed.pairs.front(), as_parent(self), placed.places.front());
}

std::variant<Placed, ParseError, EditError> insert_snippet(PyObject* self, std::string_view source,
                                                           std::optional<long long> index) {
    using Result = std::variant<Placed, ParseError, EditError>;
    return insert_at<Result>(
        self, index, [&](ContainerLock& access, std::size_t at, const Style& style) -> Result {
            auto result = insert_source(access.body(), at, source, access.base_indent(),
                                        access.top_level(), child_depth(self), style);
            if (auto* error = std::get_if<ParseError>(&result)) return std::move(*error);
            if (std::holds_alternative<Busy>(result)) return make_error(ErrorCode::pair_busy);
            auto& added = std::get<std::vector<PairRef>>(result);
            std::vector<std::size_t> places = places_from(at, added.size());
            return Placed{std::move(added), std::move(places)};
        });
}

// Removes the target pair (looked for first at `near`), or the first child
// with key (and name); false when there is none.
std::variant<bool, EditError> remove_child(PyObject* self, PairRef target, std::size_t near,
                                           std::optional<std::string_view> key,
                                           std::optional<std::string_view> name) {
    ContainerLock access(container_of(self), ContainerLock::exclusive);
    if (!access) return access.error();
    if (key) {
        auto found = quarel::find(access.body(), *key, name);
        if (std::holds_alternative<Busy>(found)) return make_error(ErrorCode::pair_busy);
        target = std::get<PairRef>(std::move(found));
        if (!target) return false;
    }
    switch (remove_pair(access.body(), target, access.top_level(), near)) {
    case Removal::removed: return true;
    case Removal::absent: return false;
    case Removal::busy: break;
    }
    return make_error(ErrorCode::pair_busy);
}

PyObject* bool_or_raise(const std::variant<bool, EditError>& result) {
    if (auto* error = std::get_if<EditError>(&result)) return raise_error(*error);
    return PyBool_FromLong(std::get<bool>(result));
}

std::optional<std::string_view> view_of(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return *text;
}

PyObject* children_get(PyObject* self) {
    Placed children;
    {
        ContainerLock access(container_of(self), ContainerLock::shared);
        if (!access) return raise_error(access.error());
        const ArenaVector<PairRef>& pairs = access.body().pairs;
        children.pairs.assign(pairs.begin(), pairs.end());
    }
    children.places = places_from(0, children.pairs.size());
    return pair_list(children, as_parent(self)).release();
}

PyObject* find(PyObject* self, PyObject* args, PyObject* kwargs, const char* function, bool first) {
    PyObject* arg[2];
    if (!parse_args({function, {"key", "name"}, 2, 1}, args, kwargs, arg)) return nullptr;
    auto key = text_arg(function, "key", arg[0]);
    std::optional<std::string> name;
    if (!key || !optional_text(function, "name", arg[1], name)) return nullptr;
    auto found =
        matching(self, *key, view_of(name), first ? 1 : std::numeric_limits<std::size_t>::max());
    if (auto* error = std::get_if<EditError>(&found)) return raise_error(*error);
    const Placed& placed = std::get<Placed>(found);
    if (!first) return pair_list(placed, as_parent(self)).release();
    if (placed.pairs.empty()) Py_RETURN_NONE;
    return make_pair(placed.pairs.front(), as_parent(self), placed.places.front()).release();
}

PyObject* find_first(PyObject* self, PyObject* args, PyObject* kwargs) {
    return find(self, args, kwargs, "find", true);
}

PyObject* find_all(PyObject* self, PyObject* args, PyObject* kwargs) {
    return find(self, args, kwargs, "find_all", false);
}

PyObject* get(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"get", {"key", "default"}, 2, 1}, args, kwargs, arg)) return nullptr;
    auto key = text_arg("get", "key", arg[0]);
    if (!key) return nullptr;
    bool missing;
    Ref value = first_value(self, *key, missing);
    if (missing) return Ref::borrow(arg[1] ? arg[1] : Py_None).release();
    return value.release();
}

PyObject* pair_list(std::vector<Visited>& visited) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(visited.size())));
    for (std::size_t i = 0; list && i < visited.size(); ++i) {
        Ref obj =
            make_pair(std::move(visited[i].pair), std::move(visited[i].parent), visited[i].place);
        if (!obj) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), obj.release());
    }
    return list.release();
}

PyObject* walk(PyObject* self) {
    auto walked = walk_pairs(self);
    if (auto* error = std::get_if<EditError>(&walked)) return raise_error(*error);
    return pair_list(std::get<0>(walked));
}

PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[5];
    if (!parse_args({"add", {"key", "value", "name", "kind", "index"}, 2, 1}, args, kwargs, arg))
        return nullptr;
    auto key = text_arg("add", "key", arg[0]);
    std::optional<std::string> name;
    std::optional<Kind> kind;
    std::optional<long long> index;
    if (!key || !optional_text("add", "name", arg[2], name) || !kind_arg("add", arg[3], kind) ||
        !index_arg("add", arg[4], index))
        return nullptr;
    if (auto error = check_token(*key, TokenRole::key)) return raise_error(*error);
    std::optional<Value> value;
    if (arg[1] && arg[1] != Py_None) {
        if (name) {
            PyErr_SetString(PyExc_ValueError, "name can only be given for a block value");
            return nullptr;
        }
        value = value_from_py(*key, arg[1], kind, nullptr);
    } else {
        if (name)
            if (auto error = check_token(*name, TokenRole::block_name)) return raise_error(*error);
        if (kind && *kind != Kind::block) {
            std::string message = "a " + std::string(kind_name(*kind)) + " value needs a value";
            PyErr_SetString(PyExc_ValueError, message.c_str());
            return nullptr;
        }
        value = block_value(view_of(name));
    }
    if (!value) return nullptr;
    return add_pair(self, *key, std::move(*value), index).release();
}

PyObject* add_source(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"add_source", {"source", "index"}, 2, 1}, args, kwargs, arg)) return nullptr;
    auto source = encoded_arg("add_source", "source", arg[0]);
    std::optional<long long> index;
    if (!source || !index_arg("add_source", arg[1], index)) return nullptr;
    if (auto error = check_depth(child_depth(self))) return raise_error(*error);
    auto result = insert_snippet(self, source->text, index);
    if (auto* error = std::get_if<ParseError>(&result)) return raise_syntax_error(*error);
    if (auto* error = std::get_if<EditError>(&result)) return raise_error(*error);
    return pair_list(std::get<Placed>(result), as_parent(self)).release();
}

PyObject* remove(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"remove", {"target", "name"}, 2, 1}, args, kwargs, arg)) return nullptr;
    if (is_pair(arg[0])) {
        PairObject* target = as_pair(arg[0]);
        return bool_or_raise(remove_child(self, target->pair, target->place, {}, {}));
    }
    if (!PyUnicode_Check(arg[0])) {
        PyErr_SetString(PyExc_TypeError, "remove() takes a Pair or a key");
        return nullptr;
    }
    auto key = utf8(arg[0]);
    std::optional<std::string> name;
    if (!key || !optional_text("remove", "name", arg[1], name)) return nullptr;
    return bool_or_raise(remove_child(self, PairRef(), 0, *key, view_of(name)));
}

int delete_item(PyObject* self, const std::string& key, PyObject* key_obj) {
    auto removed = remove_child(self, PairRef(), 0, key, std::nullopt);
    if (auto* error = std::get_if<EditError>(&removed)) return raise_error(*error), -1;
    if (std::get<bool>(removed)) return 0;
    PyErr_SetObject(PyExc_KeyError, key_obj);
    return -1;
}

} // namespace

PyObject* document_pairs_at(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    std::optional<std::size_t> offset;
    if (!parse_args({"pairs_at", {"offset"}, 1, 1}, args, kwargs, arg) ||
        !offset_arg("pairs_at", arg[0], offset))
        return nullptr;
    std::vector<PairAt> found;
    if (offset) {
        const DocHandle& document = as_document(self)->root;
        ReadGuard guard(document.lock());
        const Locations* where = guard ? located(*document) : nullptr;
        if (!where || !pairs_at(document->body, *where, *offset, found))
            return raise_error(ErrorCode::document_busy);
    }
    // Each block pair found is the parent of the pairs found inside it.
    std::vector<Visited> visited;
    visited.reserve(found.size());
    for (PairAt& at : found) {
        ParentPtr parent = as_parent(self);
        if (at.block) {
            const Visited& block = visited[*at.block];
            parent =
                std::make_shared<const Parent>(Parent{{}, block.pair, block.parent, block.place});
        }
        visited.push_back({std::move(at.pair), std::move(parent), at.place});
    }
    return pair_list(visited);
}

ContainerRef container_of(PyObject* self) {
    if (is_pair(self)) return {nullptr, &as_pair(self)->pair};
    return {&as_document(self)->root, nullptr};
}

ContainerRef container_of(const Parent& parent) {
    if (parent.document) return {&parent.document, nullptr};
    return {nullptr, &parent.block};
}

bool same_container(ContainerRef a, ContainerRef b) noexcept {
    if (a.document && b.document) return a.document->same(*b.document);
    return a.block && b.block && a.block->same(*b.block);
}

ContainerLock::ContainerLock(ContainerRef container, Mode mode)
    : mode_(mode), document_(container.document != nullptr) {
    RwLock& lock = container.block ? container.block->lock() : container.document->lock();
    if (!(mode == shared ? lock.try_lock_shared() : lock.try_lock())) return;
    lock_ = &lock;
    if (container.document) {
        body_ = &(*container.document)->body;
    } else {
        pair_ = &**container.block;
        Block* block = block_of((*container.block)->value);
        if (!block) {
            status_ = not_a_block;
            // The error is made under the lock, which is let go either way.
            try {
                not_a_block_ = quarel::not_a_block(*pair_);
            } catch (...) {
                unlock();
                throw;
            }
            unlock();
            return;
        }
        body_ = &block->body;
    }
    status_ = ok;
}

ContainerLock::~ContainerLock() {
    unlock();
}

void ContainerLock::unlock() noexcept {
    if (!lock_) return;
    if (mode_ == shared)
        lock_->unlock_shared();
    else
        lock_->unlock();
    lock_ = nullptr;
}

EditError ContainerLock::error() const {
    if (not_a_block_) return *not_a_block_;
    return make_error(document_ ? ErrorCode::document_busy : ErrorCode::pair_busy);
}

std::string ContainerLock::base_indent() const {
    return pair_ ? std::string(line_indent(pair_->leading)) : std::string();
}

namespace {

// Worked out once for the document: its edits write in that style, so they
// keep it; formatting, which may change it, forgets it.
Style style_under(const DocHandle& document) {
    ReadGuard guard(document.lock());
    if (!guard) return Style{};
    Root& root = *document;
    if (!root.style) root.style = infer_style(root.body);
    return *root.style;
}

} // namespace

Style document_style(PyObject* self) {
    if (is_pair(self)) return document_style(as_pair(self)->parent.get());
    return style_under(as_document(self)->root);
}

Style document_style(const Parent* parent) {
    const DocHandle* document = document_of(parent);
    return document ? style_under(*document) : Style{};
}

ParentPtr as_parent(PyObject* self) {
    if (!is_pair(self))
        return std::make_shared<const Parent>(Parent{as_document(self)->root, {}, {}, 0});
    PairObject* p = as_pair(self);
    return std::make_shared<const Parent>(Parent{{}, p->pair, p->parent, p->place});
}

std::size_t place_in(const Body& body, const PairRef& pair, std::size_t& place) noexcept {
    if (auto at = position_of(body, pair, place)) place = *at;
    return place;
}

namespace {

Py_ssize_t container_len(PyObject* self) {
    Py_ssize_t size;
    {
        ContainerLock access(container_of(self), ContainerLock::shared);
        if (!access) return raise_error(access.error()), -1;
        size = static_cast<Py_ssize_t>(access.body().pairs.size());
    }
    return size;
}

PyObject* container_subscript(PyObject* self, PyObject* key_obj) {
    auto key = key_arg(key_obj);
    if (!key) return nullptr;
    bool missing;
    Ref value = first_value(self, *key, missing);
    if (missing) PyErr_SetObject(PyExc_KeyError, key_obj);
    return value.release();
}

int container_ass_subscript(PyObject* self, PyObject* key_obj, PyObject* value) {
    auto key = key_arg(key_obj);
    if (!key) return -1;
    if (!value) return delete_item(self, *key, key_obj);
    auto child = first_child(self, *key);
    if (!child) return -1;
    std::size_t place = 0;
    if (*child) return assign_value(*child, as_parent(self), place, value) ? 0 : -1;
    if (auto error = check_token(*key, TokenRole::key)) return raise_error(*error), -1;
    auto converted = value_from_py(*key, value, std::nullopt, nullptr);
    if (!converted) return -1;
    return add_pair(self, *key, std::move(*converted), std::nullopt) ? 0 : -1;
}

int container_contains(PyObject* self, PyObject* key_obj) {
    auto key = key_arg(key_obj);
    if (!key) return -1;
    auto child = first_child(self, *key);
    if (!child) return -1;
    return *child ? 1 : 0;
}

PyObject* container_iter(PyObject* self) {
    Ref children(children_get(self));
    return children ? PyObject_GetIter(children.get()) : nullptr;
}

const char* name_of(const PyMethodDef& d) {
    return d.ml_name;
}
const char* name_of(const PyGetSetDef& d) {
    return d.name;
}

// The shared entries, then the class's own; kept as long as the type lives.
template <class Def> Def* join(const std::vector<Def>& shared, const Def* own) {
    auto* table = new std::vector<Def>(shared);
    for (const Def* d = own; d && name_of(*d); ++d) table->push_back(*d);
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
                                const PyType_Slot* own_slots, const PyMethodDef* own_methods,
                                const PyGetSetDef* own_getset) {
    const std::vector<PyMethodDef> methods = {
        method<find_first>("find", "find($self, key, name=None)\n--\n\nThe first child with key, "
                                   "and block name when given, or None."),
        method<find_all>("find_all", "find_all($self, key, name=None)\n--\n\nEvery child with key, "
                                     "and block name when given."),
        method<get>("get", "get($self, key, default=None)\n--\n\nThe value of the first child with "
                           "key, or default."),
        method<add>(
            "add",
            "add($self, key, value=None, *, name=None, kind=None, index=None)\n--\n\nAdds a child "
            "pair and returns it. Without a value the child is a block, named\nwhen name is given. "
            "kind forces the value's form: literal, string, expr, list\nor block. index defaults "
            "to "
            "the end."),
        method<add_source>("add_source",
                           "add_source($self, source, index=None)\n--\n\nParses a Quarel snippet "
                           "and inserts its pairs, re-indented to fit, returning them."),
        method<remove>("remove",
                       "remove($self, target, name=None)\n--\n\nRemoves a child given its "
                       "Pair, or the first child with a key (and name).\nReturns whether "
                       "a child was removed."),
        method_noargs<walk>(
            "walk",
            "walk($self)\n--\n\nEvery pair under this container, depth first in source order."),
    };
    const std::vector<PyGetSetDef> getset = {
        property<children_get>("children", "The pairs directly inside this container."),
    };
    std::vector<PyType_Slot> slots = {
        {Py_tp_doc, const_cast<char*>(doc)},
        slot<refuse_new>(Py_tp_new),
        slot<container_iter>(Py_tp_iter),
        slot<container_len>(Py_mp_length),
        slot<container_subscript>(Py_mp_subscript),
        slot<container_ass_subscript>(Py_mp_ass_subscript),
        slot<container_contains>(Py_sq_contains),
        {Py_tp_methods, join(methods, own_methods)},
        {Py_tp_getset, join(getset, own_getset)},
    };
    for (const PyType_Slot* slot = own_slots; slot->slot; ++slot) slots.push_back(*slot);
    slots.push_back({0, nullptr});
    PyType_Spec spec = {name, basicsize, 0, Py_TPFLAGS_DEFAULT, slots.data()};
    return PyType_FromSpec(&spec);
}

} // namespace quarel::py
