#include "python/convert.hpp"

#include "edit/depth.hpp"
#include "edit/kind_check.hpp"
#include "edit/scalars.hpp"
#include "python/boundary.hpp"

#include <vector>

namespace quarel::py {

namespace {

bool is_sequence(PyObject* obj) {
    return PyList_Check(obj) || PyTuple_Check(obj) || PyDict_Check(obj);
}

// A bool or number as the engine takes it: true with `scalar` set; true
// with it empty for any other object; false when the object's str() raised.
bool bare_scalar(PyObject* obj, std::optional<GivenScalar>& scalar) {
    scalar.reset();
    if (PyBool_Check(obj)) {
        scalar = obj == Py_True;
        return true;
    }
    if (!PyLong_Check(obj) && !PyFloat_Check(obj)) return true;
    Ref str(PyObject_Str(obj));
    if (!str) return false;
    auto text = utf8(str.get());
    if (text) scalar = GivenNumber{std::move(*text)};
    return text.has_value();
}

// A str, bool or number; nullopt with the error set, and with none set for
// any other object.
std::optional<GivenScalar> scalar_from_py(PyObject* obj) {
    std::optional<GivenScalar> scalar;
    if (!bare_scalar(obj, scalar) || scalar || !PyUnicode_Check(obj)) return scalar;
    auto text = utf8(obj);
    if (text) scalar = std::move(*text);
    return scalar;
}

Ref item(PyObject* seq, Py_ssize_t i) {
    return Ref(PySequence_GetItem(seq, i));
}

// `level` is the nesting level of the list's bracket, counting lists and
// list pairs from the outermost list. It only keeps the conversion from
// recursing without end: the value's depth in the document is checked once
// it is built.
std::optional<GivenList> list_from_py(PyObject* seq, int level);

bool within_depth(int level) {
    if (auto error = check_depth(level)) return raise_error(*error), false;
    return true;
}

std::optional<GivenElement> list_pair_from_py(PyObject* key_obj, PyObject* value_obj, int level) {
    if (!within_depth(level + 1)) return std::nullopt;
    if (!PyUnicode_Check(key_obj)) {
        PyErr_Format(PyExc_TypeError, "list pair keys must be str, not %s",
                     type_name(key_obj).c_str());
        return std::nullopt;
    }
    auto key = utf8(key_obj);
    if (!key) return std::nullopt;
    if (PyList_Check(value_obj)) {
        auto nested = list_from_py(value_obj, level + 2);
        if (!nested) return std::nullopt;
        return GivenElement{GivenPair{std::move(*key), std::move(*nested)}};
    }
    auto scalar = scalar_from_py(value_obj);
    if (!scalar) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_TypeError,
                         "list pair values must be str, bool, number or list, not %s",
                         type_name(value_obj).c_str());
        return std::nullopt;
    }
    return GivenElement{GivenPair{std::move(*key), std::move(*scalar)}};
}

std::optional<GivenElement> list_element(PyObject* obj, int level) {
    if (PyTuple_Check(obj)) {
        if (PyTuple_Size(obj) != 2) {
            PyErr_SetString(PyExc_ValueError, "list pairs must be (key, value) tuples");
            return std::nullopt;
        }
        Ref key = item(obj, 0), value = item(obj, 1);
        if (!key || !value) return std::nullopt;
        return list_pair_from_py(key.get(), value.get(), level);
    }
    if (PyList_Check(obj)) {
        auto nested = list_from_py(obj, level + 1);
        if (!nested) return std::nullopt;
        return GivenElement{std::move(*nested)};
    }
    auto scalar = scalar_from_py(obj);
    if (!scalar) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_TypeError,
                            "list elements must be str, bool, number, (key, value) or list");
        return std::nullopt;
    }
    return GivenElement{std::move(*scalar)};
}

std::optional<GivenList> list_from_py(PyObject* seq, int level) {
    if (!within_depth(level)) return std::nullopt;
    GivenList list;
    if (PyDict_Check(seq)) {
        Py_ssize_t size = PyDict_Size(seq), pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(seq, &pos, &k, &v)) {
            // The conversion may run Python code: hold the entry meanwhile.
            Ref key = Ref::borrow(k), value = Ref::borrow(v);
            auto converted = list_pair_from_py(key.get(), value.get(), level);
            if (!converted) return std::nullopt;
            list.elements.push_back(std::move(*converted));
            if (PyDict_Size(seq) != size) {
                PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during conversion");
                return std::nullopt;
            }
        }
        return list;
    }
    Ref iterator(PyObject_GetIter(seq));
    if (!iterator) return std::nullopt;
    while (Ref next{PyIter_Next(iterator.get())}) {
        auto converted = list_element(next.get(), level);
        if (!converted) return std::nullopt;
        list.elements.push_back(std::move(*converted));
    }
    if (PyErr_Occurred()) return std::nullopt;
    return list;
}

Ref list_value_to_py(const ListValue& value, ListPairs pairs);

Ref list_to_py(const List& list, ListPairs pairs) {
    Ref out(PyList_New(static_cast<Py_ssize_t>(list.items.size())));
    Py_ssize_t i = 0;
    for (const ListItem& it : list.items) {
        Ref element = out ? list_value_to_py(it.value, pairs) : Ref();
        if (!element) return element;
        PyList_SetItem(out.get(), i++, element.release());
    }
    return out;
}

Ref list_value_to_py(const ListValue& value, ListPairs pairs) {
    if (auto* v = std::get_if<Literal>(&value)) return to_str(v->text);
    if (auto* v = std::get_if<String>(&value)) return to_str(unescape_string(v->content));
    if (auto* v = std::get_if<Boxed<List>>(&value)) return list_to_py(**v, pairs);
    const ListPair& pair = *std::get<Boxed<ListPair>>(value);
    Ref key = to_str(pair.key);
    Ref nested = key ? list_value_to_py(pair.value, pairs) : Ref();
    if (!nested) return nested;
    if (pairs == ListPairs::tuples) return Ref(PyTuple_Pack(2, key.get(), nested.get()));
    Ref dict(PyDict_New());
    if (!dict || PyDict_SetItem(dict.get(), key.get(), nested.get()) < 0) return Ref();
    return dict;
}

} // namespace

ValueCopy copy_value(const Value& value) {
    switch (kind_of(value)) {
    case Kind::literal: return std::get<Literal>(value).text.str();
    case Kind::string: return unescape_string(std::get<String>(value).content);
    case Kind::expr: return expr_of(value)->text.str();
    case Kind::list: return *list_of(value);
    case Kind::block: break;
    }
    return std::monostate();
}

Ref value_to_py(const ValueCopy& value, ListPairs pairs) {
    if (auto* text = std::get_if<std::string>(&value)) return to_str(*text);
    if (auto* list = std::get_if<List>(&value)) return list_to_py(*list, pairs);
    return Ref::borrow(Py_None);
}

std::optional<GivenValue> given_from_py(PyObject* obj, std::optional<Kind> kind) {
    if ((!kind || *kind == Kind::list) && is_sequence(obj)) {
        auto list = list_from_py(obj, 1);
        if (!list) return std::nullopt;
        return GivenValue(std::move(*list));
    }
    if (kind == Kind::list) {
        PyErr_SetString(PyExc_TypeError, "a list value must be a list, tuple or dict");
        return std::nullopt;
    }
    if (kind == Kind::block) {
        PyErr_SetString(PyExc_ValueError, "block values are created with add(key, name=...)");
        return std::nullopt;
    }
    auto scalar = scalar_from_py(obj);
    if (!scalar) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_TypeError, "value must be a str, bool, number, list or dict");
        return std::nullopt;
    }
    return GivenValue(std::move(*scalar));
}

std::optional<Value> value_from_py(std::string_view key, PyObject* obj, std::optional<Kind> kind,
                                   const List* existing) {
    auto given = given_from_py(obj, kind);
    if (!given) return std::nullopt;
    auto value = new_value(key, *given, kind, existing);
    if (auto* error = std::get_if<EditError>(&value)) return raise_error(*error), std::nullopt;
    return std::get<Value>(std::move(value));
}

bool kind_arg(const char* function, PyObject* obj, std::optional<Kind>& kind) {
    kind.reset();
    if (!obj || obj == Py_None) return true;
    auto name = text_arg(function, "kind", obj);
    if (!name) return false;
    auto parsed = parse_kind(*name);
    if (auto* error = std::get_if<EditError>(&parsed)) return raise_error(*error), false;
    kind = std::get<Kind>(parsed);
    return true;
}

} // namespace quarel::py
