#include "python/semantic_tokens.hpp"

#include "edit/semantic_tokens.hpp"
#include "python/boundary.hpp"
#include "python/editor_args.hpp"
#include "python/objects.hpp"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace quarel::py {

namespace {

using Within = std::optional<std::pair<std::size_t, std::size_t>>;

bool within_arg(PyObject* obj, Within& out) {
    if (!obj || obj == Py_None) return true;
    Py_ssize_t start = 0, end = 0;
    if (!PyArg_ParseTuple(obj, "nn", &start, &end)) return false;
    if (start < 0 || end < 0) {
        PyErr_SetString(PyExc_ValueError,
                        "semantic_tokens_json() argument 'within' must not be negative");
        return false;
    }
    out.emplace(static_cast<std::size_t>(start), static_cast<std::size_t>(end));
    return true;
}

} // namespace

PyObject* document_semantic_tokens_json(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[4];
    if (!parse_args({"semantic_tokens_json", {"text", "encoding", "moves", "within"}, 4, 3}, args,
                    kwargs, arg))
        return nullptr;
    const std::optional<std::string_view> text = bytes_arg("semantic_tokens_json", "text", arg[0]);
    PositionEncoding encoding{};
    std::vector<TextMove> moves;
    Within within;
    if (!text || !encoding_arg("semantic_tokens_json", arg[1], encoding) ||
        !moves_arg("semantic_tokens_json", arg[2], moves) || !within_arg(arg[3], within))
        return nullptr;
    const DocHandle& document = as_document(self)->root;
    std::vector<Token> tokens;
    {
        ReadGuard guard(document.lock());
        if (!guard || !tokens_of(document->body, tokens))
            return raise_error(ErrorCode::document_busy);
    }
    EditorLines lines(*text, encoding);
    SemanticTokensJson json(tokens, lines, moves, within);
    return json_bytes(json);
}

} // namespace quarel::py
