#include "python/schema.hpp"

#include "python/boundary.hpp"
#include "python/container.hpp"
#include "python/location.hpp"
#include "schema/locate.hpp"

#include <optional>
#include <variant>
#include <vector>

namespace quarel::py {

namespace {

Ref span_tuple(const Span& span) {
    return Ref(Py_BuildValue("(nnnnnn)", span.start.line, span.start.column, span.start.offset,
                             span.end.line, span.end.column, span.end.offset));
}

Ref segments(const std::vector<Segment>& pairs) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; list && i < pairs.size(); ++i) {
        Ref key = to_str(pairs[i].key);
        Ref name = pairs[i].name.empty() ? Ref::borrow(Py_None) : to_str(pairs[i].name);
        Ref pair(key && name ? PyTuple_Pack(2, key.get(), name.get()) : nullptr);
        if (!pair) return Ref();
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), pair.release());
    }
    return list;
}

const char* what_name(Located::What what) {
    switch (what) {
    case Located::document: return "document";
    case Located::block: return "block";
    case Located::names: return "names";
    case Located::value: return "value";
    case Located::repeated: return "repeated";
    case Located::key: return "key";
    case Located::name: return "name";
    }
    return "value";
}

bool path_arg(PyObject* obj, std::vector<PathStep>& path) {
    Ref sequence(PySequence_Fast(obj, "_locate() argument 'path' must be a sequence"));
    if (!sequence) return false;
    for (Py_ssize_t i = 0; i < PySequence_Size(sequence.get()); ++i) {
        Ref step(PySequence_GetItem(sequence.get(), i));
        if (!step) return false;
        if (PyUnicode_Check(step.get())) {
            auto text = utf8(step.get());
            if (!text) return false;
            path.emplace_back(std::move(*text));
        } else if (PyLong_Check(step.get()) && !PyBool_Check(step.get())) {
            const long long index = PyLong_AsLongLong(step.get());
            if (index == -1 && PyErr_Occurred()) return false;
            if (index < 0)
                return PyErr_SetString(PyExc_ValueError, "a path's index must not be negative"),
                       false;
            path.emplace_back(static_cast<std::size_t>(index));
        } else {
            PyErr_Format(PyExc_TypeError, "a path's steps must be str or int, not %s",
                         type_name(step.get()).c_str());
            return false;
        }
    }
    return true;
}

// What `find` gives for the document's body and its pairs' places, under
// its lock; nullopt when a lock is found taken.
template <class Find>
auto with_places(PyObject* self, Find find)
    -> std::optional<decltype(find(std::declval<const Body&>(),
                                   std::declval<const Locations&>()))> {
    const DocHandle& document = as_document(self)->root;
    ReadGuard guard(document.lock());
    if (!guard) return std::nullopt;
    const Locations* where = located(*document);
    if (!where) return std::nullopt;
    return find(document->body, *where);
}

} // namespace

PyObject* document_locate(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[2];
    std::vector<PathStep> path;
    if (!parse_args({"_locate", {"path", "as_key"}, 2, 1}, args, kwargs, arg) ||
        !path_arg(arg[0], path))
        return nullptr;
    const int as_key = arg[1] ? PyObject_IsTrue(arg[1]) : 0;
    if (as_key < 0) return nullptr;
    auto located_at = with_places(self, [&](const Body& body, const Locations& where) {
        return locate(body, where, path, as_key == 1);
    });
    if (!located_at) return raise_error(ErrorCode::document_busy);
    const std::optional<Located>& found = *located_at;
    if (!found) Py_RETURN_NONE;
    Ref span = span_tuple(found->span);
    Ref first = found->what == Located::repeated ? span_tuple(found->first) : Ref::borrow(Py_None);
    Ref kind = found->kind.empty() ? Ref::borrow(Py_None) : to_str(found->kind);
    Ref pairs = segments(found->pairs);
    if (!span || !first || !kind || !pairs) return nullptr;
    return Py_BuildValue("(sOOnOO)", what_name(found->what), span.get(), first.get(),
                         static_cast<Py_ssize_t>(found->count), kind.get(), pairs.get());
}

PyObject* document_left_out(PyObject* self) {
    // Most documents leave nothing out: the places of their pairs are then not worked out.
    std::optional<bool> any;
    {
        const DocHandle& document = as_document(self)->root;
        ReadGuard guard(document.lock());
        if (guard) any = leaves_out(document->body);
    }
    if (!any) return raise_error(ErrorCode::document_busy);
    if (!*any) return PyList_New(0);
    auto gathered = with_places(
        self, [](const Body& body, const Locations& where) { return left_out(body, where); });
    if (!gathered || !*gathered) return raise_error(ErrorCode::document_busy);
    const std::optional<std::vector<LeftOutPair>>& found = *gathered;
    Ref list(PyList_New(static_cast<Py_ssize_t>(found->size())));
    for (std::size_t i = 0; list && i < found->size(); ++i) {
        const LeftOutPair& left = (*found)[i];
        Ref span = span_tuple(left.head);
        Ref pairs = segments(left.pairs);
        Ref entry(span && pairs
                      ? Py_BuildValue("(sOnO)",
                                      left.why == LeftOut::other_form ? "other_form" : "name_again",
                                      span.get(), static_cast<Py_ssize_t>(left.first), pairs.get())
                      : nullptr);
        if (!entry) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), entry.release());
    }
    return list.release();
}

PyObject* document_path_at(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    std::optional<std::size_t> offset;
    if (!parse_args({"path_at", {"offset"}, 1, 1}, args, kwargs, arg) ||
        !offset_arg("path_at", arg[0], offset))
        return nullptr;
    auto path = with_places(self, [&](const Body& body, const Locations& where) {
        return path_at(body, where, offset.value_or(SIZE_MAX));
    });
    if (!path || !*path) return raise_error(ErrorCode::document_busy);
    const std::vector<PathStep>& steps = **path;
    Ref list(PyList_New(static_cast<Py_ssize_t>(steps.size())));
    for (std::size_t i = 0; list && i < steps.size(); ++i) {
        const PathStep& step = steps[i];
        Ref item = std::holds_alternative<std::string>(step)
                       ? to_str(std::get<std::string>(step))
                       : Ref(PyLong_FromSize_t(std::get<std::size_t>(step)));
        if (!item) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list.release();
}

Ref schema_attribute(const char* function, PyObject* schema, const char* name) {
    Ref attribute(PyObject_GetAttrString(schema, name));
    if (!attribute && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s() argument 'schema' must be a tallix_cst.Schema, not %s",
                     function, type_name(schema).c_str());
    }
    return attribute;
}

PyObject* document_validate(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* arg[1];
    if (!parse_args({"validate", {"schema"}, 1, 1}, args, kwargs, arg)) return nullptr;
    Ref problems = schema_attribute("validate", arg[0], "problems");
    if (!problems) return nullptr;
    return PyObject_CallFunctionObjArgs(problems.get(), self, nullptr);
}

} // namespace quarel::py
