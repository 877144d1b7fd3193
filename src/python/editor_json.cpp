#include "python/editor_json.hpp"

#include "cst/printer.hpp"
#include "editor/folding.hpp"
#include "editor/semantic_tokens.hpp"
#include "editor/symbols.hpp"
#include "python/boundary.hpp"
#include "python/objects.hpp"
#include "python/outline.hpp"

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarel::py {

namespace {

constexpr std::size_t no_limit = std::numeric_limits<std::size_t>::max();

std::optional<std::string_view> bytes_arg(const char* function, const char* param, PyObject* obj) {
    if (!PyBytes_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be bytes, not %s", function, param,
                     type_name(obj).c_str());
        return std::nullopt;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &size) < 0) return std::nullopt;
    return std::string_view(data, static_cast<std::size_t>(size));
}

} // namespace

bool encoding_arg(const char* function, PyObject* obj, PositionEncoding& out) {
    const std::optional<std::string> name = text_arg(function, "encoding", obj);
    if (!name) return false;
    if (*name == "utf-8")
        out = PositionEncoding::utf8;
    else if (*name == "utf-16")
        out = PositionEncoding::utf16;
    else if (*name == "utf-32")
        out = PositionEncoding::utf32;
    else {
        PyErr_Format(PyExc_ValueError,
                     "%s() argument 'encoding' must be utf-8, utf-16 or utf-32, not %R", function,
                     obj);
        return false;
    }
    return true;
}

namespace {

bool moves_arg(const char* function, PyObject* obj, std::vector<TextMove>& out) {
    Ref items(PyObject_GetIter(obj));
    if (!items) return false;
    while (Ref item{PyIter_Next(items.get())}) {
        Py_ssize_t start = 0, end = 0, length = 0;
        if (!PyArg_ParseTuple(item.get(), "nnn", &start, &end, &length)) return false;
        if (start < 0 || end < start || length < 0) {
            PyErr_Format(PyExc_ValueError,
                         "%s() argument 'moves' must hold (start, end, length) with 0 <= start "
                         "<= end and length >= 0",
                         function);
            return false;
        }
        out.push_back({static_cast<std::size_t>(start), static_cast<std::size_t>(end),
                       static_cast<std::size_t>(length)});
    }
    return !PyErr_Occurred();
}

bool kinds_arg(PyObject* obj, SymbolKinds& out) {
    Py_ssize_t kinds[6];
    if (!PyArg_ParseTuple(obj, "nnnnnn", &kinds[0], &kinds[1], &kinds[2], &kinds[3], &kinds[4],
                          &kinds[5]))
        return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (kinds[i] < 0) {
            PyErr_SetString(PyExc_ValueError, "symbols_json() argument 'kinds' must not be "
                                              "negative");
            return false;
        }
        out[i] = static_cast<std::size_t>(kinds[i]);
    }
    return true;
}

// None for no limit, else a count.
bool limit_arg(const char* function, PyObject* obj, std::size_t& out) {
    if (!obj || obj == Py_None) return true;
    if (!PyLong_Check(obj) || PyBool_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'limit' must be int or None, not %s", function,
                     type_name(obj).c_str());
        return false;
    }
    const Py_ssize_t limit = PyLong_AsSsize_t(obj);
    if (limit == -1 && PyErr_Occurred()) return false;
    if (limit < 0) {
        PyErr_Format(PyExc_ValueError, "%s() argument 'limit' must not be negative", function);
        return false;
    }
    out = static_cast<std::size_t>(limit);
    return true;
}

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

// The document's tokens, and its text when `printed` is given, worked out
// under its lock.
bool locked_tokens(PyObject* self, std::vector<Token>& tokens, std::string* printed) {
    const DocHandle& document = as_document(self)->root;
    ReadGuard guard(document.lock());
    if (!guard || !tokens_of(document->body, tokens) ||
        (printed && !print_body(document->body, *printed))) {
        raise_error(ErrorCode::document_busy);
        return false;
    }
    return true;
}

} // namespace

PyObject* document_symbols_json(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[5];
    if (!parse_args({"symbols_json", {"text", "encoding", "moves", "kinds", "limit"}, 4, 4}, args,
                    kwargs, arg))
        return nullptr;
    const std::optional<std::string_view> text = bytes_arg("symbols_json", "text", arg[0]);
    PositionEncoding encoding{};
    std::vector<TextMove> moves;
    SymbolKinds kinds{};
    std::size_t limit = no_limit;
    if (!text || !encoding_arg("symbols_json", arg[1], encoding) ||
        !moves_arg("symbols_json", arg[2], moves) || !kinds_arg(arg[3], kinds) ||
        !limit_arg("symbols_json", arg[4], limit))
        return nullptr;
    const std::optional<Outline> outline = locked_outline(self);
    if (!outline) return nullptr;
    EditorLines lines(*text, encoding);
    SymbolsJson json(*outline, lines, moves, kinds, limit);
    return json_bytes(json);
}

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
    std::vector<Token> tokens;
    if (!locked_tokens(self, tokens, nullptr)) return nullptr;
    EditorLines lines(*text, encoding);
    SemanticTokensJson json(tokens, lines, moves, within);
    return json_bytes(json);
}

PyObject* document_folding_ranges_json(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[3];
    if (!parse_args({"folding_ranges_json", {"text", "moves", "limit"}, 2, 2}, args, kwargs, arg))
        return nullptr;
    const std::optional<std::string_view> text = bytes_arg("folding_ranges_json", "text", arg[0]);
    std::vector<TextMove> moves;
    std::size_t limit = no_limit;
    if (!text || !moves_arg("folding_ranges_json", arg[1], moves) ||
        !limit_arg("folding_ranges_json", arg[2], limit))
        return nullptr;
    std::vector<Token> tokens;
    std::string printed;
    if (!locked_tokens(self, tokens, &printed)) return nullptr;
    EditorLines lines(*text, PositionEncoding::utf8);
    FoldingJson json(tokens, printed, lines, moves, limit);
    return json_bytes(json);
}

} // namespace quarel::py
