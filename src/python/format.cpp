#include "python/format.hpp"

#include "format/format.hpp"
#include "python/boundary.hpp"
#include "python/objects.hpp"

#include <limits>
#include <optional>
#include <string>
#include <variant>

namespace quarel::py {

namespace {

// `None`, or text that `valid` accepts, else the ValueError `refusal`.
bool text_option(const char* name, PyObject* obj, bool (*valid)(std::string_view),
                 const char* refusal, std::optional<std::string>& out) {
    if (!obj || obj == Py_None) return true;
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "format() argument '%s' must be str or None, not %s", name,
                     type_name(obj).c_str());
        return false;
    }
    out = utf8(obj);
    if (!out) return false;
    if (valid(*out)) return true;
    PyErr_SetString(PyExc_ValueError, refusal);
    return false;
}

bool valid_indent(std::string_view indent) {
    return indent == "\t" ||
           (!indent.empty() && indent.find_first_not_of(' ') == std::string_view::npos);
}

bool valid_newline(std::string_view newline) {
    return newline == "\n" || newline == "\r\n";
}

// An int of at least `least`; one too large for the machine counts as the
// largest, which no text reaches.
bool count_option(const char* name, PyObject* obj, std::size_t least, std::size_t& out) {
    if (!obj) return true;
    if (!PyLong_Check(obj) || PyBool_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "format() argument '%s' must be int, not %s", name,
                     type_name(obj).c_str());
        return false;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && value < static_cast<long long>(least))) {
        PyErr_Format(PyExc_ValueError, "format() argument '%s' must be at least %zu", name, least);
        return false;
    }
    out = overflow > 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(value);
    return true;
}

bool lines_option(PyObject* obj, FormatOptions& options) {
    if (!obj || obj == Py_None) return true;
    if (!PyTuple_Check(obj) || PyTuple_Size(obj) != 2) {
        PyErr_Format(PyExc_TypeError,
                     "format() argument 'lines' must be a (first, last) tuple or None, not %s",
                     type_name(obj).c_str());
        return false;
    }
    std::size_t first = 0, last = 0;
    if (!count_option("lines", PyTuple_GetItem(obj, 0), 1, first) ||
        !count_option("lines", PyTuple_GetItem(obj, 1), 1, last))
        return false;
    if (last < first) {
        PyErr_SetString(PyExc_ValueError, "format() argument 'lines' must have first <= last");
        return false;
    }
    options.lines = {first, last};
    return true;
}

bool parse_options(PyObject* args, PyObject* kwargs, FormatOptions& options) {
    const auto& name = format_option_names;
    PyObject* arg[name.size()];
    if (!parse_args({"format", {name[0], name[1], name[2], name[3], name[4], name[5]}, 0, 0}, args,
                    kwargs, arg))
        return false;
    if (!text_option("indent", arg[0], valid_indent,
                     "indent must be a run of spaces or a single tab", options.indent) ||
        !text_option("newline", arg[1], valid_newline, "newline must be \"\\n\" or \"\\r\\n\"",
                     options.newline) ||
        !count_option("max_blank_lines", arg[2], 0, options.max_blank_lines) ||
        !count_option("column_width", arg[3], 1, options.column_width) ||
        !lines_option(arg[5], options))
        return false;
    if (arg[4]) {
        if (!PyBool_Check(arg[4])) {
            PyErr_Format(PyExc_TypeError, "format() argument 'final_newline' must be bool, not %s",
                         type_name(arg[4]).c_str());
            return false;
        }
        options.final_newline = arg[4] == Py_True;
    }
    return true;
}

// The default of an option as Python has it.
PyObject* default_value(FormatOption option) {
    const FormatOptions defaults;
    switch (option) {
    case FormatOption::max_blank_lines: return PyLong_FromSize_t(defaults.max_blank_lines);
    case FormatOption::column_width: return PyLong_FromSize_t(defaults.column_width);
    case FormatOption::final_newline: return PyBool_FromLong(defaults.final_newline);
    case FormatOption::indent:
    case FormatOption::newline:
    case FormatOption::lines: break;
    }
    Py_RETURN_NONE;
}

} // namespace

PyObject* format_option_defaults() {
    static PyObject* table = nullptr;
    if (table) return table;
    Ref made(PyTuple_New(static_cast<Py_ssize_t>(format_option_names.size())));
    for (std::size_t i = 0; made && i < format_option_names.size(); ++i) {
        Ref value(default_value(static_cast<FormatOption>(i)));
        PyObject* entry =
            value ? Py_BuildValue("(sO)", format_option_names[i], value.get()) : nullptr;
        if (!entry) return nullptr;
        PyTuple_SetItem(made.get(), static_cast<Py_ssize_t>(i), entry);
    }
    table = made.release();
    return table;
}

const char* format_doc() {
    static std::string doc;
    if (!doc.empty()) return doc.c_str();
    PyObject* table = format_option_defaults();
    if (!table) return nullptr;
    std::string signature = "format($self, *";
    for (Py_ssize_t i = 0; i < PyTuple_Size(table); ++i) {
        PyObject* entry = PyTuple_GetItem(table, i);
        Ref shown(PyObject_Repr(PyTuple_GetItem(entry, 1)));
        const std::optional<std::string> text = shown ? utf8(shown.get()) : std::nullopt;
        if (!text) return nullptr;
        signature +=
            std::string(", ") + format_option_names[static_cast<std::size_t>(i)] + "=" + *text;
    }
    doc = signature + ")\n--\n\n" +
          R"(Lays the document out regularly, in place, changing whitespace only, and returns
whether its text changed. indent (a run of spaces or a tab) and newline ("\n" or
"\r\n") default to the document's own; runs of blank lines are cut to
max_blank_lines; a one-line list or block wider than column_width is expanded;
final_newline ends the text with one line break. lines=(first, last) formats only
the pairs whose key stands on those lines (from 1, inclusive). Raises ValueError,
the document unchanged, when the result would not mean the same.)";
    return doc.c_str();
}

PyObject* document_format(PyObject* self, PyObject* args, PyObject* kwargs) {
    FormatOptions options;
    if (!parse_options(args, kwargs, options)) return nullptr;
    std::variant<bool, EditError> result = make_error(ErrorCode::document_busy);
    {
        const DocHandle& document = as_document(self)->root;
        WriteGuard guard(document.lock());
        if (guard) {
            result = format_document(document->body, options);
            document->style.reset();
        }
    }
    if (auto* error = std::get_if<EditError>(&result)) return raise_error(*error);
    return PyBool_FromLong(std::get<bool>(result));
}

} // namespace quarel::py
