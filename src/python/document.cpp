// The Document class: parsing entry points and whole-document printing.
#include "cst/printer.hpp"
#include "editor/at_offset.hpp"
#include "editor/key_counts.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/data.hpp"
#include "python/editor_json.hpp"
#include "python/entry.hpp"
#include "python/format.hpp"
#include "python/names.hpp"
#include "python/objects.hpp"
#include "python/outline.hpp"
#include "python/schema.hpp"
#include "python/source.hpp"
#include "python/syntax_error.hpp"
#include "python/unwrap.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

PyTypeObject* type_ = nullptr;

// parse_quarel and Document.parse.
PyObject* parse_with(const char* function, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({function, {"source"}, 1, 1}, args, kwargs, arg)) return nullptr;
    auto source = source_arg(function, "source", arg[0]);
    if (!source) return nullptr;
    const std::string_view text = source->encoded.text;
    auto result = source->file ? parse_file(text) : parse(text);
    if (auto* error = std::get_if<ParseError>(&result)) return raise_syntax_error(*error);
    return make_document(DocHandle::make(std::move(std::get<Body>(result)), text.size())).release();
}

// Prints the document under its lock with `print`, and keeps the size
// printed. The size, or nullopt when printing stopped.
template <class Print> std::optional<std::size_t> print_document(PyObject* self, Print print) {
    const DocHandle& document = as_document(self)->root;
    ReadGuard guard(document.lock());
    if (!guard) return std::nullopt;
    Root& root = *document;
    std::optional<std::size_t> size = print(root);
    if (size) root.printed_size.set(*size);
    return size;
}

// Prints into memory of the printed size from `buffer`, which is counted
// only when no size is kept.
template <class Buffer> std::optional<std::size_t> print_exact(Root& root, Buffer buffer) {
    const std::size_t* kept = root.printed_size.get();
    return print_body_into(root.body, kept ? std::optional(*kept) : std::nullopt, buffer);
}

// Text a little longer than the document's last print fits in this much
// memory; left untouched, the rest costs no pages.
std::size_t room_for(std::size_t last_size) {
    return last_size + last_size / 8 + 4096;
}

// Prints into a buffer of its own with room for the text as last printed
// (or parsed) and some more, so that after small edits it is not counted
// first; only text that does not fit there is counted.
std::optional<std::size_t> print_with_room(Root& root, std::unique_ptr<char[]>& text) {
    auto allocate = [&](std::size_t n) {
        text = std::make_unique_for_overwrite<char[]>(n);
        return text.get();
    };
    const std::size_t room = room_for(*root.printed_size.last());
    auto fitted = print_body_within(root.body, allocate(room), room);
    return fitted ? fitted : print_exact(root, allocate);
}

// Decoded once the document lock is let go.
PyObject* document_to_string(PyObject* self) {
    std::unique_ptr<char[]> text;
    auto size = print_document(self, [&](Root& root) { return print_with_room(root, text); });
    if (!size) return raise_error(ErrorCode::document_busy);
    return to_str({text.get(), *size}).release();
}

// Written straight into a bytes object when the printed size is kept (no
// edit since the parse or the last print); after an edit, printed with room
// as to_string is and copied once the lock is let go, which costs less than
// a counting walk. Making the bytes object runs no Python code, so it may
// happen under the document lock.
PyObject* document_to_bytes(PyObject* self) {
    Ref bytes;
    std::unique_ptr<char[]> text;
    auto size = print_document(self, [&](Root& root) {
        if (!root.printed_size.get()) return print_with_room(root, text);
        return print_exact(root, [&](std::size_t n) -> char* {
            bytes = Ref(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n)));
            return bytes ? PyBytes_AsString(bytes.get()) : nullptr;
        });
    });
    if (!size) return bytes || !PyErr_Occurred() ? raise_error(ErrorCode::document_busy) : nullptr;
    if (text) return PyBytes_FromStringAndSize(text.get(), static_cast<Py_ssize_t>(*size));
    return bytes.release();
}

// Writing files is the package's business (tallix_cst.files); the method is
// here so that every Document has it.
PyObject* document_dump(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({"dump", {"target"}, 1, 1}, args, kwargs, arg)) return nullptr;
    Ref files(PyImport_ImportModule("tallix_cst.files"));
    if (!files) return nullptr;
    return PyObject_CallMethod(files.get(), "dump", "OO", self, arg[0]);
}

Ref token_tuple(const Token& token, PyObject* kinds) {
    Ref tuple(PyTuple_New(3));
    PyObject* kind = PyTuple_GetItem(kinds, static_cast<Py_ssize_t>(token.kind));
    if (!tuple || !kind) return Ref();
    Py_INCREF(kind);
    PyTuple_SetItem(tuple.get(), 2, kind);
    PyObject* offset = PyLong_FromSize_t(token.offset);
    if (!offset || PyTuple_SetItem(tuple.get(), 0, offset) < 0) return Ref();
    PyObject* length = PyLong_FromSize_t(token.length);
    if (!length || PyTuple_SetItem(tuple.get(), 1, length) < 0) return Ref();
    // Numbers and a str make no cycle: untracked, a million such tuples do
    // not set the collector off again and again.
    PyObject_GC_UnTrack(tuple.get());
    return tuple;
}

// Listed under the document lock, made into Python objects once it is let
// go.
PyObject* document_tokens(PyObject* self) {
    const DocHandle& document = as_document(self)->root;
    std::vector<Token> tokens;
    {
        ReadGuard guard(document.lock());
        if (!guard || !tokens_of(document->body, tokens))
            return raise_error(ErrorCode::document_busy);
    }
    PyObject* kinds = token_kind_names_tuple();
    Ref list(kinds ? PyList_New(static_cast<Py_ssize_t>(tokens.size())) : nullptr);
    for (std::size_t i = 0; list && i < tokens.size(); ++i) {
        Ref tuple = token_tuple(tokens[i], kinds);
        if (!tuple) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), tuple.release());
    }
    return list.release();
}

// The token that holds the offset or ends at it, the one that starts there
// when two touch; found among the engine's tokens, which are not made into
// Python objects.
PyObject* document_token_at(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    std::optional<std::size_t> offset;
    if (!parse_args({"token_at", {"offset"}, 1, 1}, args, kwargs, arg) ||
        !offset_arg("token_at", arg[0], offset))
        return nullptr;
    if (!offset) Py_RETURN_NONE;
    const DocHandle& document = as_document(self)->root;
    std::vector<Token> tokens;
    {
        ReadGuard guard(document.lock());
        if (!guard || !tokens_of(document->body, tokens))
            return raise_error(ErrorCode::document_busy);
    }
    const std::optional<Token> token = quarel::token_at(tokens, *offset);
    if (!token) Py_RETURN_NONE;
    PyObject* kinds = token_kind_names_tuple();
    return kinds ? token_tuple(*token, kinds).release() : nullptr;
}

// Worked out under the document lock, made into dicts once it is let go.
PyObject* document_key_counts(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({"key_counts", {"repeated"}, 0, 0}, args, kwargs, arg)) return nullptr;
    if (arg[0] && !PyBool_Check(arg[0])) {
        PyErr_Format(PyExc_TypeError, "key_counts() argument 'repeated' must be bool, not %s",
                     type_name(arg[0]).c_str());
        return nullptr;
    }
    const DocHandle& document = as_document(self)->root;
    std::optional<KeyCounts> counts;
    {
        ReadGuard guard(document.lock());
        if (guard) counts = key_counts(document->body, arg[0] == Py_True);
    }
    if (!counts) return raise_error(ErrorCode::document_busy);
    Ref result(PyDict_New());
    for (const auto& [block_key, keys] : *counts) {
        Ref inner(PyDict_New());
        Ref outer_key = block_key ? to_str(*block_key) : Ref::borrow(Py_None);
        if (!result || !inner || !outer_key) return nullptr;
        for (const auto& [key, count] : keys) {
            Ref name = to_str(key);
            Ref number(PyLong_FromSize_t(count));
            if (!name || !number || PyDict_SetItem(inner.get(), name.get(), number.get()) < 0)
                return nullptr;
        }
        if (PyDict_SetItem(result.get(), outer_key.get(), inner.get()) < 0) return nullptr;
    }
    return result.release();
}

PyObject* document_repr(PyObject* self) {
    const DocHandle& root = as_document(self)->root;
    std::optional<std::size_t> size;
    {
        ReadGuard guard(root.lock());
        if (guard) size = root->body.pairs.size();
    }
    if (!size) return raise_error(ErrorCode::document_busy);
    return PyUnicode_FromFormat("<Document with %zu pairs>", *size);
}

PyObject* document_parse(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_with("parse", args, kwargs);
}

PyObject* newline_get(PyObject* self) {
    return to_str(document_style(self).newline).release();
}

PyObject* indent_get(PyObject* self) {
    return to_str(document_style(self).step).release();
}

// Copies and pickles go through the bytes, which keep a byte-order mark
// apart from the first key: parse_quarel(bytes) makes the document again.
PyObject* reduce(PyObject* self) {
    Ref text(document_to_bytes(self));
    Ref module(text ? PyImport_ImportModule("tallix_cst._native") : nullptr);
    Ref parse(module ? PyObject_GetAttrString(module.get(), "parse_quarel") : nullptr);
    if (!parse) return nullptr;
    return Py_BuildValue("(O(O))", parse.get(), text.get());
}

} // namespace

PyObject* parse_quarel(PyObject*, PyObject* args, PyObject* kwargs) {
    return parse_with("parse_quarel", args, kwargs);
}

PyTypeObject* document_type() {
    return type_;
}

PyObject* create_document_type() {
    if (type_) return reinterpret_cast<PyObject*>(type_);
    const char* const format_doc = py::format_doc();
    const char* const format_edits_doc = py::format_edits_doc();
    if (!format_doc || !format_edits_doc) return nullptr;
    const PyMethodDef methods[] = {
        method<document_parse>(
            "parse",
            "parse(source)\n--\n\nParses Quarel source into a Document: text (str), or the UTF-8 "
            "bytes of a\n"
            "file (bytes or bytearray), whose byte-order mark stays apart from the first key.",
            METH_STATIC),
        method_noargs<document_to_string>("to_string",
                                          "to_string($self)\n--\n\nThe document as Quarel source."),
        method_noargs<document_to_bytes>(
            "to_bytes", "to_bytes($self)\n--\n\nThe document as Quarel source encoded in UTF-8."),
        method<document_dump>("dump", "dump($self, target)\n--\n\nWrites the document to a path "
                                      "or a binary file object; see tallix_cst.dump."),
        method_noargs<document_to_data>(
            "to_data", "to_data($self)\n--\n\nThe document as plain data: the list of its pairs' "
                       "to_data()."),
        method_noargs<document_tokens>(
            "tokens", "tokens($self)\n--\n\nThe document's tokens in text order, for highlighting: "
                      "(offset, length, kind)\n"
                      "tuples, offset and length in bytes of to_bytes(). kind is key, name (of a\n"
                      "block), literal, string (with its quotes), expr (the expression's text),\n"
                      "comment or punctuation (: { } [ ] , ;;). Whitespace is no token."),
        method<document_token_at>(
            "token_at", "token_at($self, offset)\n--\n\n"
                        "The token of tokens() that holds a byte offset or ends at it, or None."),
        method<document_key_counts>(
            "key_counts",
            "key_counts($self, *, repeated=False)\n--\n\n"
            "For each block key, and None for the top of the document, how many such blocks\n"
            "hold each key, as {block key: {key: count}}: a key counts once per block however\n"
            "often it repeats there. With repeated, how many hold it more than once."),
        method_noargs<document_outline>(
            "outline",
            "outline($self)\n--\n\nEvery pair in walk order, for an editor's outline: (key, name, "
            "kind, preview,\n"
            "depth, line, column, offset, end_line, end_column, end_offset, key_end_column)\n"
            "tuples. name is a block's name or None; preview is the value in one line (its\n"
            "first, each run of spaces made one, a string unescaped, a list as [a, k: v], cut\n"
            "at 40 characters with \u2026 where text is left out), None for a block; depth is 0\n"
            "at the top level and one more inside each block. Positions are a Location's; the\n"
            "key ends at key_end_column on the first line."),
        method<document_pairs_at>(
            "pairs_at",
            "pairs_at($self, offset)\n--\n\n"
            "The pairs whose location holds a byte offset of to_bytes(), its end included,\n"
            "in walk order: each block's pair before the pairs inside it, so the last is the\n"
            "innermost. Only the blocks that hold the offset are entered."),
        method<document_symbols_json>(
            "symbols_json",
            "symbols_json($self, text, encoding, moves, kinds, *, limit=None)\n--\n\n"
            "The outline as a language server's document symbols: the UTF-8 bytes of a JSON\n"
            "list of DocumentSymbol, a block holding the pairs inside it as children, named\n"
            "`key name` when it has a name, other pairs with their preview as detail. The\n"
            "document's offsets are moved through `moves`, (start, end, length) replacements\n"
            "made in order since it was parsed, into `text` (bytes), where lines end at LF,\n"
            "CR LF or a lone CR and characters count in `encoding` (utf-8, utf-16 or utf-32).\n"
            "`kinds` are the symbol kinds of a literal, string, expr, list, block and named\n"
            "block. With a limit, at most that many symbols: all down to the depth where the\n"
            "next level would not fit, then the first of that level that fit."),
        method<document_semantic_tokens_json>(
            "semantic_tokens_json",
            "semantic_tokens_json($self, text, encoding, moves, within=None)\n--\n\n"
            "The tokens as a language server's semantic tokens: the UTF-8 bytes of the JSON\n"
            "{\"data\": [...]}, five numbers a token in the protocol's relative encoding, a\n"
            "token over several lines cut into one a line, its type the index of its kind in\n"
            "key, name, literal, string, expr, comment, punctuation. Offsets are moved and\n"
            "positions counted as symbols_json() does; `within`, a (start, end) of offsets\n"
            "of `text`, keeps only the tokens that meet it. A token an edit has emptied is\n"
            "left out."),
        method<document_folding_ranges_json>(
            "folding_ranges_json",
            "folding_ranges_json($self, text, moves, *, limit=None)\n--\n\n"
            "Folding ranges as a language server gives them: the UTF-8 bytes of a JSON list\n"
            "of FoldingRange. A block or list folds up to the line before its closing\n"
            "bracket; a string or expression over several lines through its last line; a\n"
            "run of comment lines, as kind \"comment\". Offsets are moved and lines counted\n"
            "as symbols_json() does; a limit keeps the outermost ranges as symbols_json()\n"
            "keeps symbols, depth counted in brackets around a range."),
        method<document_format>("format", format_doc),
        method<document_format_edits_json>("format_edits_json", format_edits_doc),
        method<document_unwrap>(
            "unwrap",
            "unwrap($self, schema=None)\n--\n\nThe document as plain data: a dict of its pairs "
            "(see "
            "the README for the rules),\nwith lists, str, and, where the schema (a "
            "tallix_cst.Schema) accepts no string\nbut accepts them, int, float and bool."),
        method<document_validate>(
            "validate",
            "validate($self, schema)\n--\n\nThe document's problems against the schema (a "
            "tallix_cst.Schema), in\nposition order: schema.problems(document)."),
        method<document_path_at>(
            "path_at",
            "path_at($self, offset)\n--\n\nThe path into unwrap()'s value (keys and indexes) of "
            "the innermost value\nwhose text holds a byte offset of to_bytes(): inside a block, "
            "the place of its\npairs; on a key or a name, its pair's value. Empty for the "
            "document."),
        method<document_locate>("_locate",
                                "_locate($self, path, as_key=False)\n--\n\nWhere the value at a "
                                "path of unwrap()'s value stands (schema checks)."),
        method_noargs<document_left_out>(
            "_left_out", "_left_out($self)\n--\n\nThe pairs unwrap() leaves out (schema checks)."),
        method<document_unwrap_marked>(
            "_unwrap_marked", "_unwrap_marked($self, names, literal)\n--\n\nunwrap() with named "
                              "blocks and literals marked (schema inference)."),
        method_noargs<reduce>("__reduce__", "__reduce__($self)\n--\n\nPickles the document "
                                            "as its bytes."),
        {nullptr, nullptr, 0, nullptr},
    };
    const PyGetSetDef getset[] = {
        property<newline_get>("newline", "The line break that edits write: \"\\n\" or \"\\r\\n\", "
                                         "as the document shows it."),
        property<indent_get>("indent", "The indentation that edits add per level of nesting, as "
                                       "the document shows it."),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    const PyType_Slot slots[] = {
        slot<dealloc<DocumentObject>>(Py_tp_dealloc),
        slot<document_to_string>(Py_tp_str),
        slot<document_repr>(Py_tp_repr),
        {0, nullptr},
    };
    type_ = reinterpret_cast<PyTypeObject*>(create_container_type(
        "tallix_cst.Document", sizeof(DocumentObject),
        "A parsed Quarel file. str() returns the source, including any edits.", slots, methods,
        getset));
    return reinterpret_cast<PyObject*>(type_);
}

Ref make_document(DocHandle root) {
    Ref obj(PyType_GenericAlloc(type_, 0));
    if (obj) new (&as_document(obj.get())->root) DocHandle(std::move(root));
    return obj;
}

} // namespace quarel::py
