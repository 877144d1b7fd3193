#include "python/end_comment.hpp"

#include "edit/comment_text.hpp"
#include "edit/end_comment.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"

#include <optional>

namespace quarel::py {

namespace {

std::optional<EditError> write_end_comment(PyObject* self, const std::string& text) {
    const PairRef& pair = as_pair(self)->pair;
    const Parent* parent = as_pair(self)->parent.get();
    if (parent) {
        const Style style = document_style(parent);
        ContainerLock container(container_of(*parent), ContainerLock::exclusive);
        if (container.status() == ContainerLock::busy) return container.error();
        if (container) {
            const std::size_t near = place_in(container.body(), pair, as_pair(self)->place);
            auto set = set_end_comment(container.body(), pair, text, container.base_indent(),
                                       container.top_level(), style, near);
            if (std::holds_alternative<Busy>(set)) return make_error(ErrorCode::pair_busy);
            if (std::get<bool>(set)) return std::nullopt;
        }
    }
    WriteGuard guard(pair.lock());
    if (!guard) return make_error(ErrorCode::pair_busy);
    if (!pair->loose_end) return make_error(ErrorCode::moved_away);
    *pair->loose_end = Text(space_end_comment(*pair->loose_end, text));
    return std::nullopt;
}

} // namespace

// moved_away for a pair that stands in some other body than its object's
// container.
std::variant<std::string, EditError> end_comment_of(PyObject* self) {
    const Parent* parent = as_pair(self)->parent.get();
    std::optional<ContainerLock> container;
    if (parent) {
        container.emplace(container_of(*parent), ContainerLock::shared);
        if (container->status() == ContainerLock::busy) return container->error();
    }
    const Body* body = container && *container ? &container->body() : nullptr;
    const PairRef& pair = as_pair(self)->pair;
    const std::size_t near = body ? place_in(*body, pair, as_pair(self)->place) : 0;
    auto found = quarel::end_comment_of(body, pair, near);
    if (std::holds_alternative<Busy>(found)) return make_error(ErrorCode::pair_busy);
    auto& comment = std::get<std::optional<std::string>>(found);
    if (!comment) return make_error(ErrorCode::moved_away);
    return std::move(*comment);
}

PyObject* end_comment_get(PyObject* self) {
    auto comment = end_comment_of(self);
    if (auto* error = std::get_if<EditError>(&comment)) return raise_error(*error);
    const std::string& spaced = std::get<std::string>(comment);
    if (spaced.empty()) Py_RETURN_NONE;
    return to_str(std::string_view(spaced).substr(spaced.find('#'))).release();
}

int end_comment_set(PyObject* self, PyObject* value) {
    std::string text;
    if (value != Py_None) {
        auto given = text_arg("end_comment", "end_comment", value);
        if (!given) return -1;
        auto made = compose_end_comment(*given);
        if (auto* error = std::get_if<EditError>(&made)) return raise_error(*error), -1;
        text = std::get<std::string>(std::move(made));
    }
    if (auto error = write_end_comment(self, text)) return raise_error(*error), -1;
    return 0;
}

} // namespace quarel::py
