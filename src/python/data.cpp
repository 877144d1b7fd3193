#include "python/data.hpp"

#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/convert.hpp"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

// A pair's data, copied out under the locks and turned into Python objects
// once they are let go.
struct PairData {
    std::string key;
    std::optional<std::string> name;
    Kind kind;
    ValueCopy value;
    std::vector<PairData> children;
};

std::optional<PairData> copy_data(const PairRef& pair) {
    ReadGuard guard(pair.lock());
    if (!guard) return std::nullopt;
    PairData data{pair->key.str(), std::nullopt, kind_of(pair->value), copy_value(pair->value), {}};
    if (const Block* block = block_of(pair->value)) {
        if (block->name) data.name = block->name->str();
        data.children.reserve(block->body.pairs.size());
        for (const PairRef& child : block->body.pairs) {
            std::optional<PairData> copied = copy_data(child);
            if (!copied) return std::nullopt;
            data.children.push_back(std::move(*copied));
        }
    }
    return data;
}

Ref to_py(const std::vector<PairData>& pairs);

Ref to_py(const PairData& data) {
    Ref dict(PyDict_New());
    Ref fields[] = {
        to_str(data.key),
        data.name ? to_str(*data.name) : Ref::borrow(Py_None),
        to_str(kind_name(data.kind)),
        value_to_py(data.value, ListPairs::dicts),
        to_py(data.children),
    };
    const char* names[] = {"key", "name", "kind", "value", "children"};
    if (!dict) return dict;
    for (std::size_t i = 0; i < std::size(names); ++i)
        if (!fields[i] || PyDict_SetItemString(dict.get(), names[i], fields[i].get()) < 0)
            return Ref();
    return dict;
}

Ref to_py(const std::vector<PairData>& pairs) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; list && i < pairs.size(); ++i) {
        Ref item = to_py(pairs[i]);
        if (!item) return item;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

std::variant<std::vector<PairData>, EditError> copy_document(PyObject* self) {
    ContainerLock access(container_of(self), ContainerLock::shared);
    if (!access) return access.error();
    std::vector<PairData> pairs;
    pairs.reserve(access.body().pairs.size());
    for (const PairRef& pair : access.body().pairs) {
        std::optional<PairData> copied = copy_data(pair);
        if (!copied) return make_error(ErrorCode::pair_busy);
        pairs.push_back(std::move(*copied));
    }
    return pairs;
}

} // namespace

PyObject* document_to_data(PyObject* self) {
    auto pairs = copy_document(self);
    if (auto* error = std::get_if<EditError>(&pairs)) return raise_error(*error);
    return to_py(std::get<std::vector<PairData>>(pairs)).release();
}

PyObject* pair_to_data(PyObject* self) {
    std::optional<PairData> data = copy_data(as_pair(self)->pair);
    if (!data) return raise_error(ErrorCode::pair_busy);
    return to_py(*data).release();
}

} // namespace quarel::py
