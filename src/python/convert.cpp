#include "python/convert.hpp"

#include "edit/scalars.hpp"
#include "parser/lexer.hpp"
#include "parser/parser.hpp"
#include "python/boundary.hpp"

#include <cstdio>

namespace quarel::py {

namespace {

enum class Style { bare_when_possible, always_quoted };

std::string type_name(PyObject* obj) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
    auto text = name ? utf8(name.get()) : std::nullopt;
    PyErr_Clear();
    return text ? *text : "object";
}

bool is_sequence(PyObject* obj) {
    return PyList_Check(obj) || PyTuple_Check(obj) || PyDict_Check(obj);
}

// The literal text of a bool or number: true with `text` set; true with
// `text` empty for any other object; false when the object's str() raised.
bool literal_scalar(PyObject* obj, std::optional<std::string>& text) {
    text.reset();
    if (PyBool_Check(obj)) {
        text = obj == Py_True ? "yes" : "no";
        return true;
    }
    if (!PyLong_Check(obj) && !PyFloat_Check(obj)) return true;
    Ref str(PyObject_Str(obj));
    if (!str) return false;
    text = utf8(str.get());
    return text.has_value();
}

// A bool or number written bare: its str() must read back as one token.
std::optional<Literal> number_literal(const std::string& text) {
    if (!validate_token(text, "literal")) return std::nullopt;
    return Literal{Text(text)};
}

template <class V> V quoted_or_bare(const std::string& text, Style style) {
    if (style == Style::bare_when_possible && is_literal(text)) return Literal{Text(text)};
    return String{Text(escape_string(text))};
}

Ref item(PyObject* seq, Py_ssize_t i) {
    return Ref(PySequence_GetItem(seq, i));
}

// `level` is the nesting level of the list's bracket: lists and list pairs
// each count one, as when the text is parsed.
std::optional<List> list_from_py(PyObject* seq, const List* existing, int level);

std::optional<ListValue> list_pair(PyObject* key_obj, PyObject* value_obj, Style style, int level) {
    if (!check_depth(level + 1)) return std::nullopt;
    if (!PyUnicode_Check(key_obj)) {
        PyErr_Format(PyExc_TypeError, "list pair keys must be str, not %s",
                     type_name(key_obj).c_str());
        return std::nullopt;
    }
    auto key = utf8(key_obj);
    if (!key || !validate_token(*key, "key")) return std::nullopt;
    ListPair pair{Text(*key), Text(), Text(" "), Literal{}};
    std::optional<std::string> number;
    if (PyList_Check(value_obj)) {
        auto nested = list_from_py(value_obj, nullptr, level + 2);
        if (!nested) return std::nullopt;
        pair.value = Boxed<List>(std::move(*nested));
    } else if (!literal_scalar(value_obj, number)) {
        return std::nullopt;
    } else if (number) {
        auto literal = number_literal(*number);
        if (!literal) return std::nullopt;
        pair.value = std::move(*literal);
    } else if (PyUnicode_Check(value_obj)) {
        auto text = utf8(value_obj);
        if (!text) return std::nullopt;
        pair.value = quoted_or_bare<ListValue>(*text, style);
    } else {
        PyErr_Format(PyExc_TypeError, "list pair values must be str, bool, number or list, not %s",
                     type_name(value_obj).c_str());
        return std::nullopt;
    }
    return ListValue(Boxed<ListPair>(std::move(pair)));
}

std::optional<ListValue> list_element(PyObject* obj, Style element, Style pair_value, int level) {
    if (PyTuple_Check(obj)) {
        if (PyTuple_Size(obj) != 2) {
            PyErr_SetString(PyExc_ValueError, "list pairs must be (key, value) tuples");
            return std::nullopt;
        }
        Ref key = item(obj, 0), value = item(obj, 1);
        if (!key || !value) return std::nullopt;
        return list_pair(key.get(), value.get(), pair_value, level);
    }
    if (PyList_Check(obj)) {
        auto nested = list_from_py(obj, nullptr, level + 1);
        if (!nested) return std::nullopt;
        return ListValue(Boxed<List>(std::move(*nested)));
    }
    std::optional<std::string> number;
    if (!literal_scalar(obj, number)) return std::nullopt;
    if (number) {
        auto literal = number_literal(*number);
        if (!literal) return std::nullopt;
        return ListValue(std::move(*literal));
    }
    if (PyUnicode_Check(obj)) {
        auto text = utf8(obj);
        if (!text) return std::nullopt;
        return quoted_or_bare<ListValue>(*text, element);
    }
    PyErr_SetString(PyExc_TypeError,
                    "list elements must be str, bool, number, (key, value) or list");
    return std::nullopt;
}

// The quoting of new elements, taken from the list being replaced.
Style element_style(const List* existing) {
    if (existing)
        for (const ListItem& i : existing->items) {
            if (std::holds_alternative<Literal>(i.value)) return Style::bare_when_possible;
            if (std::holds_alternative<String>(i.value)) return Style::always_quoted;
        }
    return Style::bare_when_possible;
}

Style pair_value_style(const List* existing) {
    if (existing)
        for (const ListItem& i : existing->items) {
            auto* pair = std::get_if<Boxed<ListPair>>(&i.value);
            if (!pair) continue;
            if (std::holds_alternative<Literal>((*pair)->value)) return Style::bare_when_possible;
            if (std::holds_alternative<String>((*pair)->value)) return Style::always_quoted;
        }
    return Style::always_quoted;
}

// Laid out as `[a, b, c]`.
List new_list(std::vector<ListValue> values) {
    List list;
    list.items.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        list.items.push_back(ListItem{Text(i ? " " : ""), std::move(values[i]), std::nullopt});
        if (i + 1 < values.size()) list.items.back().before_comma = Text();
    }
    return list;
}

std::optional<List> list_from_py(PyObject* seq, const List* existing, int level) {
    if (!check_depth(level)) return std::nullopt;
    Style element = element_style(existing), pair_value = pair_value_style(existing);
    std::vector<ListValue> values;
    if (PyDict_Check(seq)) {
        Py_ssize_t size = PyDict_Size(seq), pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(seq, &pos, &k, &v)) {
            // The conversion may run Python code: hold the entry meanwhile.
            Ref key = Ref::borrow(k), value = Ref::borrow(v);
            auto converted = list_pair(key.get(), value.get(), pair_value, level);
            if (!converted) return std::nullopt;
            values.push_back(std::move(*converted));
            if (PyDict_Size(seq) != size) {
                PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during conversion");
                return std::nullopt;
            }
        }
        return new_list(std::move(values));
    }
    Ref iterator(PyObject_GetIter(seq));
    if (!iterator) return std::nullopt;
    while (Ref next{PyIter_Next(iterator.get())}) {
        auto converted = list_element(next.get(), element, pair_value, level);
        if (!converted) return std::nullopt;
        values.push_back(std::move(*converted));
    }
    if (PyErr_Occurred()) return std::nullopt;
    return new_list(std::move(values));
}

// The text between double quotes with escapes for quotes, backslashes and
// characters that would not print.
std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        len = std::min(len, text.size() - i);
        char32_t cp = c < 0x80 ? c : c & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case 0: out += "\\0"; break;
        default:
            if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) ||
                (cp != ' ' && lex::whitespace_len(text.data() + i, text.data() + text.size()))) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(text.substr(i, len));
            }
        }
        i += len;
    }
    return out + "\"";
}

std::optional<Value> scalar_value(std::string_view key, PyObject* obj,
                                  std::optional<std::string_view> kind) {
    std::optional<std::string> text;
    if (!literal_scalar(obj, text)) return std::nullopt;
    bool number = text.has_value();
    if (!number) {
        if (!PyUnicode_Check(obj)) {
            PyErr_SetString(PyExc_TypeError, "value must be a str, bool, number, list or dict");
            return std::nullopt;
        }
        text = utf8(obj);
        if (!text) return std::nullopt;
    }
    if (!kind) {
        if (number) {
            auto literal = number_literal(*text);
            if (!literal) return std::nullopt;
            return Value(std::move(*literal));
        }
        auto inferred = infer_scalar(key, *text);
        if (auto* error = std::get_if<std::string>(&inferred)) {
            PyErr_SetString(PyExc_ValueError, error->c_str());
            return std::nullopt;
        }
        return std::move(std::get<Value>(inferred));
    }
    if (*kind == "string") return Value(String{Text(escape_string(*text))});
    if (*kind == "literal") {
        if (!validate_token(*text, "literal")) return std::nullopt;
        return Value(Literal{Text(*text)});
    }
    if (*kind == "expr") {
        if (text->find(";;") != std::string::npos) {
            PyErr_SetString(PyExc_ValueError, "an expression cannot contain `;;`");
            return std::nullopt;
        }
        return expr_value(*text);
    }
    std::string message =
        "unknown kind " + debug_quoted(*kind) + "; expected literal, string, expr, list or block";
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return std::nullopt;
}

Ref list_to_py(const List& list) {
    Ref out(PyList_New(static_cast<Py_ssize_t>(list.items.size())));
    Py_ssize_t i = 0;
    for (const ListItem& it : list.items) {
        Ref element = out ? list_value_to_py(it.value) : Ref();
        if (!element) return element;
        PyList_SetItem(out.get(), i++, element.release());
    }
    return out;
}

} // namespace

Ref value_to_py(const Value& value) {
    switch (kind_of(value)) {
    case Kind::literal: return to_str(std::get<Literal>(value).text);
    case Kind::string: return to_str(unescape_string(std::get<String>(value).content));
    case Kind::expr: return to_str(std::get<Expr>(value).text);
    case Kind::list: return list_to_py(*list_of(value));
    case Kind::block: return Ref::borrow(Py_None);
    }
    return Ref();
}

Ref list_value_to_py(const ListValue& value) {
    if (auto* v = std::get_if<Literal>(&value)) return to_str(v->text);
    if (auto* v = std::get_if<String>(&value)) return to_str(unescape_string(v->content));
    if (auto* v = std::get_if<Boxed<List>>(&value)) return list_to_py(**v);
    const ListPair& pair = *std::get<Boxed<ListPair>>(value);
    Ref key = to_str(pair.key);
    Ref nested = key ? list_value_to_py(pair.value) : Ref();
    if (!nested) return nested;
    return Ref(PyTuple_Pack(2, key.get(), nested.get()));
}

std::optional<Value> value_from_py(std::string_view key, PyObject* obj,
                                   std::optional<std::string_view> kind, const List* existing,
                                   int depth) {
    if ((!kind || *kind == "list") && is_sequence(obj)) {
        auto list = list_from_py(obj, existing, depth + 1);
        if (!list) return std::nullopt;
        return Value(Boxed<List>(std::move(*list)));
    }
    if (kind && *kind == "list") {
        PyErr_SetString(PyExc_TypeError, "a list value must be a list, tuple or dict");
        return std::nullopt;
    }
    if (kind && *kind == "block") {
        PyErr_SetString(PyExc_ValueError, "block values are created with add(key, name=...)");
        return std::nullopt;
    }
    return scalar_value(key, obj, kind);
}

bool kind_arg(const char* function, PyObject* obj, std::optional<std::string>& kind) {
    kind.reset();
    if (!obj || obj == Py_None) return true;
    kind = text_arg(function, "kind", obj);
    return kind.has_value();
}

bool check_depth(int level) {
    if (level <= max_depth) return true;
    PyErr_SetString(PyExc_ValueError, "nesting deeper than 256 levels");
    return false;
}

bool validate_token(std::string_view text, const char* what) {
    if (lex::is_bare_token(text)) return true;
    std::string message = debug_quoted(text) + " is not a valid Quarel " + what;
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

bool check_kind_fits(std::string_view key, Kind kind) {
    bool expr_key = lex::is_expr_key(key);
    if (expr_key == (kind == Kind::expr)) return true;
    std::string message =
        expr_key ? "`" + std::string(key) + "` is an expression key; its value must be an expr"
                 : "`" + std::string(key) +
                       "` is not an expression key; only expression keys hold expr values";
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

} // namespace quarel::py
