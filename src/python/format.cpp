#include "python/format.hpp"

#include "cst/printer.hpp"
#include "editor/text_edits.hpp"
#include "format/format.hpp"
#include "python/boundary.hpp"
#include "python/editor_json.hpp"
#include "python/objects.hpp"

#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

// `None`, or text that `valid` accepts, else the ValueError `refusal`.
bool text_option(const char* function, const char* name, PyObject* obj,
                 bool (*valid)(std::string_view), const char* refusal,
                 std::optional<std::string>& out) {
    if (!obj || obj == Py_None) return true;
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str or None, not %s", function,
                     name, type_name(obj).c_str());
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
bool count_option(const char* function, const char* name, PyObject* obj, std::size_t least,
                  std::size_t& out) {
    if (!obj) return true;
    if (!PyLong_Check(obj) || PyBool_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be int, not %s", function, name,
                     type_name(obj).c_str());
        return false;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && value < static_cast<long long>(least))) {
        PyErr_Format(PyExc_ValueError, "%s() argument '%s' must be at least %zu", function, name,
                     least);
        return false;
    }
    out = overflow > 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(value);
    return true;
}

bool lines_option(const char* function, PyObject* obj, FormatOptions& options) {
    if (!obj || obj == Py_None) return true;
    if (!PyTuple_Check(obj) || PyTuple_Size(obj) != 2) {
        PyErr_Format(PyExc_TypeError,
                     "%s() argument 'lines' must be a (first, last) tuple or None, not %s",
                     function, type_name(obj).c_str());
        return false;
    }
    std::size_t first = 0, last = 0;
    if (!count_option(function, "lines", PyTuple_GetItem(obj, 0), 1, first) ||
        !count_option(function, "lines", PyTuple_GetItem(obj, 1), 1, last))
        return false;
    if (last < first) {
        PyErr_Format(PyExc_ValueError, "%s() argument 'lines' must have first <= last", function);
        return false;
    }
    options.lines = {first, last};
    return true;
}

bool options_from(const char* function, PyObject* const* arg, FormatOptions& options) {
    if (!text_option(function, "indent", arg[0], valid_indent,
                     "indent must be a run of spaces or a single tab", options.indent) ||
        !text_option(function, "newline", arg[1], valid_newline,
                     "newline must be \"\\n\" or \"\\r\\n\"", options.newline) ||
        !count_option(function, "max_blank_lines", arg[2], 0, options.max_blank_lines) ||
        !count_option(function, "column_width", arg[3], 1, options.column_width) ||
        !lines_option(function, arg[5], options))
        return false;
    if (arg[4]) {
        if (!PyBool_Check(arg[4])) {
            PyErr_Format(PyExc_TypeError, "%s() argument 'final_newline' must be bool, not %s",
                         function, type_name(arg[4]).c_str());
            return false;
        }
        options.final_newline = arg[4] == Py_True;
    }
    return true;
}

// The options by the engine's names, keyword-only; `leading`, when given,
// takes the one positional argument before them.
bool parse_options(const char* function, PyObject* args, PyObject* kwargs, FormatOptions& options,
                   PyObject** leading = nullptr) {
    const auto& name = format_option_names;
    PyObject* arg[name.size() + 1] = {};
    const bool parsed =
        leading
            ? parse_args({function,
                          {"encoding", name[0], name[1], name[2], name[3], name[4], name[5]},
                          1,
                          1},
                         args, kwargs, arg)
            : parse_args({function, {name[0], name[1], name[2], name[3], name[4], name[5]}, 0, 0},
                         args, kwargs, arg + 1);
    if (!parsed) return false;
    if (leading) *leading = arg[0];
    return options_from(function, arg + 1, options);
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

namespace {

// ", indent=None, ...": the options with their defaults, as a signature
// lists them; nullopt with the error set when one could not be shown.
std::optional<std::string> option_signature() {
    PyObject* table = format_option_defaults();
    if (!table) return std::nullopt;
    std::string signature;
    for (Py_ssize_t i = 0; i < PyTuple_Size(table); ++i) {
        PyObject* entry = PyTuple_GetItem(table, i);
        Ref shown(PyObject_Repr(PyTuple_GetItem(entry, 1)));
        const std::optional<std::string> text = shown ? utf8(shown.get()) : std::nullopt;
        if (!text) return std::nullopt;
        signature +=
            std::string(", ") + format_option_names[static_cast<std::size_t>(i)] + "=" + *text;
    }
    return signature;
}

// The docstring `name(head, *, options)` followed by `text`, made once.
const char* documented(std::string& doc, const char* head, const char* text) {
    if (!doc.empty()) return doc.c_str();
    const std::optional<std::string> options = option_signature();
    if (!options) return nullptr;
    doc = std::string(head) + ", *" + *options + ")\n--\n\n" + text;
    return doc.c_str();
}

// Formats the document under its write lock, listing the changes when asked;
// the style kept for its edits is forgotten.
std::variant<bool, EditError> format_locked(PyObject* self, const FormatOptions& options,
                                            std::string* before, std::vector<TextChange>* changes) {
    const DocHandle& document = as_document(self)->root;
    WriteGuard guard(document.lock());
    if (!guard || (before && !print_body(document->body, *before)))
        return make_error(ErrorCode::document_busy);
    document->style.reset();
    return format_document(document->body, options, changes);
}

} // namespace

const char* format_doc() {
    static std::string doc;
    return documented(
        doc, "format($self",
        R"(Lays the document out regularly, in place, changing whitespace only, and returns
whether its text changed. indent (a run of spaces or a tab) and newline ("\n" or
"\r\n") default to the document's own; runs of blank lines are cut to
max_blank_lines; a one-line list or block wider than column_width is expanded;
final_newline ends the text with one line break. lines=(first, last) formats only
the pairs whose key stands on those lines (from 1, inclusive). Raises ValueError,
the document unchanged, when the result would not mean the same.)");
}

const char* format_edits_doc() {
    static std::string doc;
    return documented(
        doc, "format_edits_json($self, encoding",
        R"(Formats the document as format() does, and returns what changed as a language
server's edits: the UTF-8 bytes of a JSON list of TextEdit, in text order, each the
smallest stretch of the text as printed before that changed and its new text.
Positions are counted in that text as symbols_json() counts them, in `encoding`
(utf-8, utf-16 or utf-32). An empty list when nothing changed.)");
}

PyObject* document_format(PyObject* self, PyObject* args, PyObject* kwargs) {
    FormatOptions options;
    if (!parse_options("format", args, kwargs, options)) return nullptr;
    std::variant<bool, EditError> result = format_locked(self, options, nullptr, nullptr);
    if (auto* error = std::get_if<EditError>(&result)) return raise_error(*error);
    return PyBool_FromLong(std::get<bool>(result));
}

PyObject* document_format_edits_json(PyObject* self, PyObject* args, PyObject* kwargs) {
    FormatOptions options;
    PyObject* encoding_obj = nullptr;
    PositionEncoding encoding{};
    if (!parse_options("format_edits_json", args, kwargs, options, &encoding_obj) ||
        !encoding_arg("format_edits_json", encoding_obj, encoding))
        return nullptr;
    std::string before;
    std::vector<TextChange> changes;
    std::variant<bool, EditError> result = format_locked(self, options, &before, &changes);
    if (auto* error = std::get_if<EditError>(&result)) return raise_error(*error);
    EditorLines lines(before, encoding);
    TextEditsJson json(changes, lines);
    return json_bytes(json);
}

} // namespace quarel::py
