// The Pair class: one `key: value` entry of a document. A Pair object is a
// view: it reads and writes the tree pair at the moment of each call.
#include "cst/printer.hpp"
#include "edit/comments.hpp"
#include "edit/layout.hpp"
#include "edit/remove.hpp"
#include "parser/lexer.hpp"
#include "python/assign.hpp"
#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/convert.hpp"
#include "python/objects.hpp"

#include <optional>
#include <vector>

namespace quarel::py {

namespace {

PyTypeObject* type_ = nullptr;

const PairRef& handle(PyObject* self) {
    return as_pair(self)->pair;
}

// Runs read(pair) under the pair's shared lock.
template <class Read> PyObject* read_pair(PyObject* self, Read read) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        const PairRef& pair = handle(self);
        ReadGuard guard(pair.lock());
        if (!guard) return raise_busy("pair");
        return read(*pair).release();
    });
}

PyObject* key_get(PyObject* self, void*) {
    return read_pair(self, [](const Pair& p) { return to_str(p.key); });
}

PyObject* name_get(PyObject* self, void*) {
    return read_pair(self, [](const Pair& p) {
        const Block* block = block_of(p.value);
        return block && block->name ? to_str(*block->name) : Ref::borrow(Py_None);
    });
}

PyObject* kind_get(PyObject* self, void*) {
    return read_pair(self, [](const Pair& p) { return to_str(kind_name(kind_of(p.value))); });
}

PyObject* value_get(PyObject* self, void*) {
    return read_pair(self, [](const Pair& p) { return value_to_py(p.value); });
}

PyObject* comments_get(PyObject* self, void*) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        std::vector<std::string> lines;
        {
            ReadGuard guard(handle(self).lock());
            if (!guard) return raise_busy("pair");
            lines = comments_of(handle(self)->leading);
        }
        Ref list(PyList_New(static_cast<Py_ssize_t>(lines.size())));
        for (std::size_t i = 0; list && i < lines.size(); ++i) {
            Ref line = to_str(lines[i]);
            if (!line) return nullptr;
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), line.release());
        }
        return list.release();
    });
}

PyObject* parent_get(PyObject* self, void*) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        const Parent* parent = as_pair(self)->parent.get();
        if (!parent) Py_RETURN_NONE;
        if (parent->document) return make_document(parent->document).release();
        return make_pair(parent->block, parent->up).release();
    });
}

bool refuse_delete(PyObject* value) {
    if (value) return false;
    PyErr_SetString(PyExc_AttributeError, "property has no deleter");
    return true;
}

int key_set(PyObject* self, PyObject* value, void*) {
    return shield<int>(-1, [&]() -> int {
        if (refuse_delete(value)) return -1;
        auto key = text_arg("key", "key", value);
        if (!key || !validate_token(*key, "key")) return -1;
        WriteGuard guard(handle(self).lock());
        if (!guard) return raise_busy("pair"), -1;
        Pair& pair = *handle(self);
        // Expression keys hold expressions and other keys never do.
        if (lex::is_expr_key(*key) != (kind_of(pair.value) == Kind::expr)) {
            std::string message = "cannot rename `" + pair.key.str() + "` to `" + *key +
                                  "`: expression keys and other keys hold different kinds of value";
            PyErr_SetString(PyExc_ValueError, message.c_str());
            return -1;
        }
        pair.key = *key;
        return 0;
    });
}

int name_set(PyObject* self, PyObject* value, void*) {
    return shield<int>(-1, [&]() -> int {
        if (refuse_delete(value)) return -1;
        std::optional<std::string> name;
        if (value != Py_None) {
            name = text_arg("name", "name", value);
            if (!name || !validate_token(*name, "block name")) return -1;
        }
        WriteGuard guard(handle(self).lock());
        if (!guard) return raise_busy("pair"), -1;
        Pair& pair = *handle(self);
        Block* block = block_of(pair.value);
        if (!block) {
            PyErr_SetString(PyExc_TypeError, not_a_block(pair).c_str());
            return -1;
        }
        // `link: {` becomes `link: x {`; removing a name keeps the space.
        if (name && !block->name && block->before_brace.empty()) block->before_brace = " ";
        if (name)
            block->name = Text(*name);
        else
            block->name.reset();
        return 0;
    });
}

int value_set(PyObject* self, PyObject* value, void*) {
    return shield<int>(-1, [&]() -> int {
        if (refuse_delete(value)) return -1;
        return assign_value(handle(self), as_pair(self)->parent, value) ? 0 : -1;
    });
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

int comments_set(PyObject* self, PyObject* value, void*) {
    return shield<int>(-1, [&]() -> int {
        if (refuse_delete(value)) return -1;
        auto lines = comment_lines(value);
        if (!lines) return -1;
        const PairRef& pair = handle(self);
        // The document's first pair needs no separation from what precedes it.
        std::optional<ContainerLock> document;
        const Parent* parent = as_pair(self)->parent.get();
        if (parent && parent->document) {
            document.emplace(container_of(*parent), ContainerLock::shared);
            if (!*document) return document->raise(), -1;
        }
        bool first = document && !document->body().pairs.empty() &&
                     document->body().pairs.front().same(pair);
        WriteGuard guard(pair.lock());
        if (!guard) return raise_busy("pair"), -1;
        pair->leading = with_comments(pair->leading, *lines, first);
        return 0;
    });
}

PyObject* set_value(PyObject* self, PyObject* args, PyObject* kwargs) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* arg[2];
        if (!parse_args({"set_value", {"value", "kind"}, 2, 1}, args, kwargs, arg)) return nullptr;
        std::optional<std::string> kind;
        if (!kind_arg("set_value", arg[1], kind)) return nullptr;
        if (!replace_value(handle(self), as_pair(self)->parent, arg[0], kind)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* detach(PyObject* self, PyObject*) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        const Parent* parent = as_pair(self)->parent.get();
        if (!parent) Py_RETURN_FALSE;
        ContainerLock container(container_of(*parent), ContainerLock::exclusive);
        if (container.status() == ContainerLock::not_a_block) Py_RETURN_FALSE;
        if (!container) return container.raise();
        switch (remove_pair(container.body(), handle(self), container.top_level())) {
        case Removal::removed: Py_RETURN_TRUE;
        case Removal::absent: Py_RETURN_FALSE;
        case Removal::busy: break;
        }
        return raise_busy("pair");
    });
}

PyObject* print(PyObject* self, bool include_leading, bool dedent) {
    return shield<PyObject*>(nullptr, [&]() -> PyObject* {
        std::string indentation;
        if (dedent) {
            ReadGuard guard(handle(self).lock());
            if (!guard) return raise_busy("pair");
            indentation = line_indent(handle(self)->leading);
        }
        std::string out;
        if (!print_pair(handle(self), out, include_leading)) return raise_busy("pair");
        return to_str(dedent ? outdent(out, indentation) : out).release();
    });
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
    return read_pair(self, [](const Pair& p) {
        std::string out = "<Pair " + p.key.str() + ": ";
        if (const Block* block = block_of(p.value)) {
            if (block->name) out += block->name->str() + " ";
            out += "{...}>";
        } else {
            std::string value;
            print_value(p.value, value);
            out += shortened(value) + ">";
        }
        return to_str(out);
    });
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

PyGetSetDef own_getset[] = {
    {"key", key_get, key_set, nullptr, nullptr},
    {"name", name_get, name_set, "The block name, as in users for `view: users { ... }`, or None.",
     nullptr},
    {"kind", kind_get, nullptr, "One of literal, string, expr, list or block.", nullptr},
    {"value", value_get, value_set,
     "The value: str for literals, strings and expressions, a list for lists (with\n(key, value) "
     "tuples for pairs such as filters) and None for blocks. Assigning keeps\nthe current kind.",
     nullptr},
    {"comments", comments_get, comments_set,
     "The comment lines directly above this pair, including their `#`.", nullptr},
    {"parent", parent_get, nullptr,
     "The block or document containing this pair, or None for a pair that was never attached.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef own_methods[] = {
    {"set_value", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(set_value)),
     METH_VARARGS | METH_KEYWORDS,
     "set_value($self, value, kind=None)\n--\n\nReplaces the value, optionally changing its kind: "
     "literal, string, expr or list."},
    {"detach", detach, METH_NOARGS,
     "detach($self)\n--\n\nRemoves this pair from its parent, returning whether it was still "
     "attached."},
    {"to_string", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(to_string)),
     METH_VARARGS | METH_KEYWORDS,
     "to_string($self, include_leading=False, *, dedent=False)\n--\n\nThe pair as Quarel "
     "source, without the whitespace and comments before it unless\ninclude_leading is set. "
     "With dedent set, the lines lose the indentation of the pair's\nown line, as if it stood at "
     "the top level (text inside strings stays as it is)."},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

PyTypeObject* pair_type() {
    return type_;
}

PyObject* create_pair_type() {
    if (type_) return reinterpret_cast<PyObject*>(type_);
    static const PyType_Slot slots[] = {
        {Py_tp_str, reinterpret_cast<void*>(str)},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {Py_tp_richcompare, reinterpret_cast<void*>(richcompare)},
        {0, nullptr},
    };
    type_ = reinterpret_cast<PyTypeObject*>(create_container_type(
        "tallix_cst.Pair", sizeof(PairObject),
        "A `key: value` entry in a document, such as `type: number` or `dimension: id { ... }`.",
        dealloc<PairObject>, slots, own_methods, own_getset));
    return reinterpret_cast<PyObject*>(type_);
}

Ref make_pair(PairRef pair, ParentPtr parent) {
    Ref obj(PyType_GenericAlloc(type_, 0));
    if (!obj) return obj;
    PairObject* p = as_pair(obj.get());
    new (&p->pair) PairRef(std::move(pair));
    new (&p->parent) ParentPtr(std::move(parent));
    return obj;
}

} // namespace quarel::py
