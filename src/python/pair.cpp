// The Pair class: one `key: value` entry of a document. A Pair object is a
// view: it reads and writes the tree pair at the moment of each call.
#include "cst/printer.hpp"
#include "edit/block_name.hpp"
#include "edit/comment_text.hpp"
#include "edit/comments.hpp"
#include "edit/layout.hpp"
#include "edit/remove.hpp"
#include "edit/rename.hpp"
#include "edit/snippet.hpp"
#include "parser/parser.hpp"
#include "python/assign.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/convert.hpp"
#include "python/data.hpp"
#include "python/end_comment.hpp"
#include "python/entry.hpp"
#include "python/location.hpp"
#include "python/move.hpp"
#include "python/objects.hpp"
#include "python/syntax_error.hpp"
#include "python/unwrap.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

PyTypeObject* pair_type_ = nullptr;

const PairRef& handle(PyObject* self) {
    return as_pair(self)->pair;
}

// What read(pair) returns, read under the pair's shared lock; nullopt with
// the error set when the pair is busy.
template <class Read>
std::optional<std::invoke_result_t<Read, const Pair&>> read_pair(PyObject* self, Read read) {
    const PairRef& pair = handle(self);
    std::optional<std::invoke_result_t<Read, const Pair&>> out;
    {
        ReadGuard guard(pair.lock());
        if (guard) out = read(*pair);
    }
    if (!out) raise_error(ErrorCode::pair_busy);
    return out;
}

// What edit(pair) returns, the error of a refused edit, made under the
// pair's exclusive lock.
template <class Edit> std::optional<EditError> edit_pair(PyObject* self, Edit edit) {
    const PairRef& pair = handle(self);
    WriteGuard guard(pair.lock());
    if (!guard) return make_error(ErrorCode::pair_busy);
    return edit(*pair);
}

int raise_or_zero(const std::optional<EditError>& error) {
    if (error) return raise_error(*error), -1;
    return 0;
}

PyObject* key_get(PyObject* self) {
    auto key = read_pair(self, [](const Pair& p) { return p.key.str(); });
    return key ? to_str(*key).release() : nullptr;
}

PyObject* name_get(PyObject* self) {
    auto name = read_pair(self, [](const Pair& p) -> std::optional<std::string> {
        const Block* block = block_of(p.value);
        if (!block || !block->name) return std::nullopt;
        return block->name->str();
    });
    if (!name) return nullptr;
    return (*name ? to_str(**name) : Ref::borrow(Py_None)).release();
}

PyObject* kind_get(PyObject* self) {
    auto kind = read_pair(self, [](const Pair& p) { return kind_of(p.value); });
    return kind ? to_str(kind_name(*kind)).release() : nullptr;
}

PyObject* value_get(PyObject* self) {
    auto value = read_pair(self, [](const Pair& p) { return copy_value(p.value); });
    return value ? value_to_py(*value).release() : nullptr;
}

// Whether the pair is its document's first, which has no line before it.
std::variant<bool, EditError> opens_document(PyObject* self) {
    const Parent* parent = as_pair(self)->parent.get();
    if (!parent || !parent->document) return false;
    ContainerLock document(container_of(*parent), ContainerLock::shared);
    if (!document) return document.error();
    const ArenaVector<PairRef>& pairs = document.body().pairs;
    return !pairs.empty() && pairs.front().same(handle(self));
}

PyObject* comments_get(PyObject* self) {
    auto first = opens_document(self);
    if (auto* error = std::get_if<EditError>(&first)) return raise_error(*error);
    auto lines = read_pair(
        self, [&](const Pair& p) { return comments_of(p.leading, std::get<bool>(first)); });
    if (!lines) return nullptr;
    Ref list(PyList_New(static_cast<Py_ssize_t>(lines->size())));
    for (std::size_t i = 0; list && i < lines->size(); ++i) {
        Ref line = to_str((*lines)[i]);
        if (!line) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), line.release());
    }
    return list.release();
}

PyObject* parent_get(PyObject* self) {
    const Parent* parent = as_pair(self)->parent.get();
    if (!parent) Py_RETURN_NONE;
    if (parent->document) return make_document(parent->document).release();
    return make_pair(parent->block, parent->up, parent->place).release();
}

int key_set(PyObject* self, PyObject* value) {
    auto key = text_arg("key", "key", value);
    if (!key) return -1;
    return raise_or_zero(edit_pair(self, [&](Pair& pair) { return rename(pair, *key); }));
}

int name_set(PyObject* self, PyObject* value) {
    std::optional<std::string> name;
    if (value != Py_None) {
        name = text_arg("name", "name", value);
        if (!name) return -1;
    }
    std::optional<std::string_view> wanted;
    if (name) wanted = *name;
    return raise_or_zero(edit_pair(self, [&](Pair& pair) { return set_block_name(pair, wanted); }));
}

int value_set(PyObject* self, PyObject* value) {
    PairObject* pair = as_pair(self);
    return assign_value(pair->pair, pair->parent, pair->place, value) ? 0 : -1;
}

// The lines of a comments assignment: a sequence of str, not a str.
std::optional<std::vector<std::string>> comment_lines(PyObject* value) {
    if (PyUnicode_Check(value) || !PySequence_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "comments must be a sequence of str");
        return std::nullopt;
    }
    Py_ssize_t n = PySequence_Size(value);
    if (n < 0) return std::nullopt;
    std::vector<std::string> lines;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref line(PySequence_GetItem(value, i));
        if (!line) return std::nullopt;
        if (!PyUnicode_Check(line.get())) {
            PyErr_SetString(PyExc_TypeError, "comments must be a sequence of str");
            return std::nullopt;
        }
        auto text = utf8(line.get());
        if (!text) return std::nullopt;
        lines.push_back(std::move(*text));
    }
    return lines;
}

std::optional<EditError> write_comments(PyObject* self, const std::vector<std::string>& lines) {
    auto first = opens_document(self);
    if (auto* error = std::get_if<EditError>(&first)) return *error;
    // A pair sharing a line takes comments on a line of its own, at the
    // depth of its siblings.
    const Parent* parent = as_pair(self)->parent.get();
    const Style style = document_style(parent);
    std::string indent;
    std::optional<ContainerLock> container;
    if (parent) {
        container.emplace(container_of(*parent), ContainerLock::shared);
        if (container->status() == ContainerLock::busy) return container->error();
        if (*container) {
            auto found = child_indent(container->body(), container->base_indent(),
                                      container->top_level(), style);
            if (!found) return make_error(ErrorCode::pair_busy);
            indent = std::move(*found);
        }
    }
    const PairRef& pair = handle(self);
    WriteGuard guard(pair.lock());
    if (!guard) return make_error(ErrorCode::pair_busy);
    pair->leading = with_comments(pair->leading, lines, std::get<bool>(first), indent, style);
    return std::nullopt;
}

int comments_set(PyObject* self, PyObject* value) {
    auto lines = comment_lines(value);
    if (!lines) return -1;
    return raise_or_zero(write_comments(self, *lines));
}

PyObject* set_value(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"set_value", {"value", "kind"}, 2, 1}, args, kwargs, arg)) return nullptr;
    std::optional<Kind> kind;
    if (!kind_arg("set_value", arg[1], kind)) return nullptr;
    PairObject* pair = as_pair(self);
    if (!replace_value(pair->pair, pair->parent, pair->place, arg[0], kind)) return nullptr;
    Py_RETURN_NONE;
}

std::variant<bool, EditError> detach_pair(PyObject* self) {
    const Parent* parent = as_pair(self)->parent.get();
    if (!parent) return false;
    ContainerLock container(container_of(*parent), ContainerLock::exclusive);
    if (container.status() == ContainerLock::not_a_block) return false;
    if (!container) return container.error();
    std::size_t& place = as_pair(self)->place;
    const std::size_t near = place_in(container.body(), handle(self), place);
    switch (remove_pair(container.body(), handle(self), container.top_level(), near)) {
    case Removal::removed: return true;
    case Removal::absent: return false;
    case Removal::busy: break;
    }
    return make_error(ErrorCode::pair_busy);
}

PyObject* detach(PyObject* self) {
    auto detached = detach_pair(self);
    if (auto* error = std::get_if<EditError>(&detached)) return raise_error(*error);
    return PyBool_FromLong(std::get<bool>(detached));
}

PyObject* location_get(PyObject* self) {
    return location_of(handle(self), as_pair(self)->parent.get()).release();
}

// A copy of the pair that no body holds, read back from its printed text:
// its own comment lines above it, at the start of a line of its own, and
// the comment that ended its line.
std::variant<PairRef, ParseError, EditError> copy_pair(PyObject* self) {
    auto end = end_comment_of(self);
    if (auto* error = std::get_if<EditError>(&end)) return std::move(*error);
    auto first = opens_document(self);
    if (auto* error = std::get_if<EditError>(&first)) return std::move(*error);
    const std::string newline = document_style(as_pair(self)->parent.get()).newline;
    std::string text;
    if (!print_pair(handle(self), text, true)) return make_error(ErrorCode::pair_busy);
    auto parsed = parse(text);
    if (auto* error = std::get_if<ParseError>(&parsed)) return std::move(*error);
    PairRef copy = std::move(std::get<Body>(parsed).pairs.front());
    std::string_view leading = copy->leading;
    if (std::get<bool>(first) || has_line_feed(leading)) {
        const Leading parts = divide(leading, std::get<bool>(first));
        copy->leading = Text(newline + std::string(parts.attached) + std::string(parts.indent));
    }
    copy->loose_end = Text(std::get<std::string>(end));
    return copy;
}

PyObject* deep_copy(PyObject* self) {
    auto copied = copy_pair(self);
    if (auto* error = std::get_if<ParseError>(&copied)) return raise_syntax_error(*error);
    if (auto* error = std::get_if<EditError>(&copied)) return raise_error(*error);
    return make_pair(std::get<PairRef>(std::move(copied)), nullptr).release();
}

PyObject* deep_copy_memo(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({"__deepcopy__", {"memo"}, 1, 1}, args, kwargs, arg)) return nullptr;
    return deep_copy(self);
}

PyObject* refuse_pickle(PyObject*) {
    PyErr_SetString(PyExc_TypeError,
                    "cannot pickle a Pair: it is a view into a document; pickle the Document, or "
                    "keep pair.to_string()");
    return nullptr;
}

PyObject* print(PyObject* self, bool include_leading, bool dedent) {
    std::string indentation;
    if (dedent) {
        ReadGuard guard(handle(self).lock());
        if (!guard) return raise_error(ErrorCode::pair_busy);
        indentation = line_indent(handle(self)->leading);
    }
    // Most pairs are a line or a few: printed on the stack, not counted first.
    char local[512];
    std::string heap;
    std::string_view out;
    if (auto size = print_pair_within(handle(self), include_leading, local, sizeof local))
        out = {local, *size};
    else if (print_pair(handle(self), heap, include_leading))
        out = heap;
    else
        return raise_error(ErrorCode::pair_busy);
    return to_str(dedent ? outdent(out, indentation) : out).release();
}

PyObject* to_string(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    if (!parse_args({"to_string", {"include_leading", "dedent"}, 1, 0}, args, kwargs, arg))
        return nullptr;
    const char* names[] = {"include_leading", "dedent"};
    for (int i = 0; i < 2; ++i) {
        if (arg[i] && !PyBool_Check(arg[i])) {
            PyErr_Format(PyExc_TypeError, "to_string() argument '%s' must be bool", names[i]);
            return nullptr;
        }
    }
    return print(self, arg[0] == Py_True, arg[1] == Py_True);
}

PyObject* str(PyObject* self) {
    return print(self, false, false);
}

// The first 60 characters of the text, with "..." when it is longer.
std::string shortened(const std::string& text) {
    std::size_t end = 0;
    for (int chars = 0; chars < 60 && end < text.size(); ++chars) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return end < text.size() ? text.substr(0, end) + "..." : text;
}

PyObject* repr(PyObject* self) {
    auto text = read_pair(self, [](const Pair& p) -> std::optional<std::string> {
        std::string out = "<Pair " + p.key.str() + ": ";
        if (const Block* block = block_of(p.value)) {
            if (block->name) out += block->name->str() + " ";
            return out + "{...}>";
        }
        std::string value;
        if (!print_value(p.value, value)) return std::nullopt;
        return out + shortened(value) + ">";
    });
    if (!text) return nullptr;
    if (!*text) return raise_error(ErrorCode::pair_busy);
    return to_str(**text).release();
}

PyObject* richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) {
        int equal = PyObject_RichCompareBool(self, other, Py_EQ);
        if (equal < 0) return nullptr;
        return PyBool_FromLong(!equal);
    }
    if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(is_pair(other) && handle(self).same(handle(other)));
}

} // namespace

PyTypeObject* pair_type() {
    return pair_type_;
}

PyObject* create_pair_type() {
    if (pair_type_) return reinterpret_cast<PyObject*>(pair_type_);
    const PyGetSetDef getset[] = {
        property<key_get, key_set>("key", nullptr),
        property<name_get, name_set>(
            "name", "The block name, as in users for `view: users { ... }`, or None."),
        property<kind_get>("kind", "One of literal, string, expr, list or block."),
        property<value_get, value_set>(
            "value",
            "The value: str for literals, strings and expressions, a list for lists (with\n(key, "
            "value) tuples for pairs such as filters) and None for blocks. Assigning keeps\nthe "
            "current kind."),
        property<comments_get, comments_set>(
            "comments", "The comment lines directly above this pair, including their `#`."),
        property<parent_get>("parent", "The block or document containing this pair, or None for "
                                       "a pair that was never attached."),
        property<end_comment_get, end_comment_set>(
            "end_comment",
            "The comment at the end of the line where the value ends, including its `#`, or\n"
            "None. Assigning None, or text that is only whitespace, removes it."),
        property<location_get>(
            "location",
            "Where the pair stands in its document's text as printed now, a Location; None\n"
            "for a detached pair."),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    const PyMethodDef methods[] = {
        method<set_value>("set_value",
                          "set_value($self, value, kind=None)\n--\n\nReplaces the value, "
                          "optionally changing its kind: literal, string, expr or list."),
        method_noargs<detach>("detach", "detach($self)\n--\n\nRemoves this pair from its parent, "
                                        "returning whether it was still attached."),
        method<to_string>("to_string",
                          "to_string($self, include_leading=False, *, dedent=False)\n--\n\nThe "
                          "pair as Quarel source, without the whitespace and comments before it "
                          "unless\ninclude_leading is set. With dedent set, the lines lose the "
                          "indentation of the pair's\nown line, as if it stood at the top level "
                          "(text inside strings stays as it is)."),
        method<move_to>(
            "move_to",
            "move_to($self, target, index=None)\n--\n\nMoves this pair, with its comments, into "
            "target, a Document or block Pair, at\nindex (the end by default), re-indented to "
            "fit there."),
        method_noargs<pair_to_data>(
            "to_data",
            "to_data($self)\n--\n\nThe pair as plain data: a dict of key, name, kind, value (a "
            "pair inside a list\nas {key: value}) and children (for a block, its pairs' "
            "to_data())."),
        method<pair_unwrap>(
            "unwrap",
            "unwrap($self, schema=None)\n--\n\nThe pair's value as plain data, as "
            "Document.unwrap() gives it, the schema\n(a tallix_cst.Schema) standing for the "
            "value."),
        method_noargs<deep_copy>("__copy__", "__copy__($self)\n--\n\nA detached copy of the "
                                             "pair, as __deepcopy__."),
        method<deep_copy_memo>("__deepcopy__",
                               "__deepcopy__($self, memo)\n--\n\nA detached copy of the pair, "
                               "with its comments and end-of-line comment."),
        method_noargs<refuse_pickle>("__reduce__",
                                     "__reduce__($self)\n--\n\nRefused: a Pair cannot be "
                                     "pickled."),
        {nullptr, nullptr, 0, nullptr},
    };
    const PyType_Slot slots[] = {
        slot<dealloc<PairObject>>(Py_tp_dealloc),
        slot<str>(Py_tp_str),
        slot<repr>(Py_tp_repr),
        slot<richcompare>(Py_tp_richcompare),
        {Py_tp_free, reinterpret_cast<void*>(PyObject_Free)},
        {0, nullptr},
    };
    pair_type_ = reinterpret_cast<PyTypeObject*>(create_container_type(
        "tallix_cst.Pair", sizeof(PairObject),
        "A `key: value` entry in a document, such as `type: number` or `dimension: id { ... }`.",
        slots, methods, getset));
    return reinterpret_cast<PyObject*>(pair_type_);
}

// Allocated by hand: PyType_GenericAlloc zeroes the object and looks up the
// type's slots first, a third of the cost of a walk() that makes one per pair.
Ref make_pair(PairRef pair, ParentPtr parent, std::size_t place) {
    auto* p = static_cast<PairObject*>(PyObject_Malloc(sizeof(PairObject)));
    if (!p) return Ref(PyErr_NoMemory());
    PyObject_Init(reinterpret_cast<PyObject*>(p), pair_type_);
    new (&p->pair) PairRef(std::move(pair));
    new (&p->parent) ParentPtr(std::move(parent));
    p->place = place;
    return Ref(reinterpret_cast<PyObject*>(p));
}

} // namespace quarel::py
