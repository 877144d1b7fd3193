#include "python/format.hpp"

#include "format/format.hpp"
#include "python/boundary.hpp"
#include "python/objects.hpp"

#include <limits>
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
    PyObject* arg[6];
    if (!parse_args(
            {"format",
             {"indent", "newline", "max_blank_lines", "column_width", "final_newline", "lines"},
             0,
             0},
            args, kwargs, arg))
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

} // namespace

PyObject* document_format(PyObject* self, PyObject* args, PyObject* kwargs) {
    FormatOptions options;
    if (!parse_options(args, kwargs, options)) return nullptr;
    std::variant<bool, EditError> result = make_error(ErrorCode::document_busy);
    {
        const DocHandle& document = as_document(self)->root;
        WriteGuard guard(document.lock());
        if (guard) result = format_document(document->body, options);
    }
    if (auto* error = std::get_if<EditError>(&result)) return raise_error(*error);
    return PyBool_FromLong(std::get<bool>(result));
}

} // namespace quarel::py
