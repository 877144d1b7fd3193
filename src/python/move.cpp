#include "python/move.hpp"

#include "edit/find.hpp"
#include "edit/move.hpp"
#include "edit/remove.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"

#include <algorithm>
#include <optional>
#include <variant>

namespace quarel::py {

namespace {

// Where the pair stands before the move: in the container its object found
// it in (`at`), or out of every body.
struct Origin {
    std::optional<std::size_t> at;
    bool top_level = false;
};

std::variant<Origin, EditError> origin_of(PyObject* self) {
    const PairRef& pair = as_pair(self)->pair;
    if (const Parent* parent = as_pair(self)->parent.get()) {
        ContainerLock container(container_of(*parent), ContainerLock::shared);
        if (container.status() == ContainerLock::busy) return container.error();
        if (container) {
            if (auto at = position_of(container.body(), pair, as_pair(self)->place))
                return Origin{*at, container.top_level()};
        }
    }
    ReadGuard guard(pair.lock());
    if (!guard) return make_error(ErrorCode::pair_busy);
    if (!pair->loose_end) return make_error(ErrorCode::moved_away);
    return Origin{};
}

// The checks that come before any change: the target holds a block, the
// engine's (not into the pair itself, within the depth), and the index
// falls among the target's children as they will be once the pair has left.
std::optional<EditError> check_target(PyObject* self, PyObject* target, const Origin& origin,
                                      std::optional<long long> index) {
    const PairRef& pair = as_pair(self)->pair;
    const ContainerRef to = container_of(target);
    std::size_t children;
    {
        ContainerLock access(to, ContainerLock::shared);
        if (!access) return access.error();
        children = access.body().pairs.size();
    }
    {
        ReadGuard guard(pair.lock());
        if (!guard) return make_error(ErrorCode::pair_busy);
        if (auto error = check_move(pair, *pair, to.block, child_depth(target))) return error;
    }
    const Parent* parent = as_pair(self)->parent.get();
    const bool leaves_target = origin.at && same_container(container_of(*parent), to);
    if (!position(index, children - (leaves_target ? 1 : 0)))
        return make_error(ErrorCode::index_out_of_range);
    return std::nullopt;
}

// Where the pair now stands in the target.
std::variant<std::size_t, EditError> move_pair(PyObject* self, PyObject* target,
                                               std::optional<long long> index) {
    const PairRef& pair = as_pair(self)->pair;
    auto origin = origin_of(self);
    if (auto* error = std::get_if<EditError>(&origin)) return std::move(*error);
    const Origin& from = std::get<Origin>(origin);
    if (auto error = check_target(self, target, from, index)) return std::move(*error);
    const Style style = document_style(target);
    // Past the checks only a lock found taken can stop the move, which the
    // locking invariant rules out (cst/shared.hpp).
    if (from.at) {
        ContainerLock source(container_of(*as_pair(self)->parent), ContainerLock::exclusive);
        if (!source) return source.error();
        if (remove_pair(source.body(), pair, source.top_level(), *from.at) != Removal::removed)
            return make_error(ErrorCode::pair_busy);
    }
    ContainerLock access(container_of(target), ContainerLock::exclusive);
    if (!access) return access.error();
    const std::size_t at = *position(index, access.body().pairs.size());
    if (auto error =
            insert_moved(access.body(), at, pair, from.top_level && from.at == 0,
                         access.base_indent(), access.top_level(), child_depth(target), style))
        return std::move(*error);
    return at;
}

} // namespace

PyObject* move_to(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"move_to", {"target", "index"}, 2, 1}, args, kwargs, arg)) return nullptr;
    PyObject* target = arg[0];
    if (!is_pair(target) && !is_document(target)) {
        PyErr_Format(PyExc_TypeError,
                     "move_to() argument 'target' must be Document or Pair, not %s",
                     type_name(target).c_str());
        return nullptr;
    }
    std::optional<long long> index;
    if (!index_arg("move_to", arg[1], index)) return nullptr;
    auto moved = move_pair(self, target, index);
    if (auto* error = std::get_if<EditError>(&moved)) return raise_error(*error);
    // The object now stands for the pair where it is.
    as_pair(self)->parent = as_parent(target);
    as_pair(self)->place = std::get<std::size_t>(moved);
    Py_RETURN_NONE;
}

} // namespace quarel::py
