#include "python/location.hpp"

#include "python/boundary.hpp"
#include "python/container.hpp"

#include <optional>

namespace quarel::py {

namespace {

PyObject* type_ = nullptr;
// tuple.__new__, which makes a Location from its fields without running
// the Python code of the class's own __new__.
PyObject* tuple_new_ = nullptr;

// The pair's span in the document.
std::optional<std::optional<PairSpan>> span_of(const PairRef& pair, const DocHandle& document) {
    ReadGuard guard(document.lock());
    if (!guard) return std::nullopt;
    const Locations* locations = located(*document);
    if (!locations) return std::nullopt;
    const PairSpan* span = locations->find(&*pair);
    if (!span) return std::optional<PairSpan>();
    return std::optional<PairSpan>(*span);
}

Py_ssize_t ssize(std::size_t n) {
    return static_cast<Py_ssize_t>(n);
}

} // namespace

const Locations* located(Root& root) {
    if (const Locations* locations = root.located.get()) return locations;
    root.located.clear();
    std::optional<Locations> found = Locations::of(root.body);
    if (!found) return nullptr;
    return &root.located.set(std::move(*found));
}

PyObject* create_location_type() {
    if (type_) return type_;
    Ref collections(PyImport_ImportModule("collections"));
    Ref namedtuple(collections ? PyObject_GetAttrString(collections.get(), "namedtuple") : nullptr);
    Ref args(Py_BuildValue("(s[ssssss])", "Location", "line", "column", "offset", "end_line",
                           "end_column", "end_offset"));
    Ref kwargs(Py_BuildValue("{s:s}", "module", "tallix_cst"));
    if (!namedtuple || !args || !kwargs) return nullptr;
    Ref type(PyObject_Call(namedtuple.get(), args.get(), kwargs.get()));
    Ref doc(PyUnicode_FromString(
        "Where a pair stands in its document's text, from its key to the end of its value: "
        "lines\nand columns from 1, offsets from 0, columns and offsets in bytes of the UTF-8 "
        "text\n(to_bytes()); a byte-order mark counts in offsets but not in columns. The end is "
        "the\nposition just past the value."));
    if (!type || !doc || PyObject_SetAttrString(type.get(), "__doc__", doc.get()) < 0)
        return nullptr;
    tuple_new_ = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyTuple_Type), "__new__");
    if (!tuple_new_) return nullptr;
    type_ = type.release();
    return type_;
}

Ref location_of(const PairRef& pair, const Parent* parent) {
    const DocHandle* document = document_of(parent);
    if (!document) return Ref::borrow(Py_None);
    auto span = span_of(pair, *document);
    if (!span) return Ref(raise_error(ErrorCode::document_busy));
    if (!*span) return Ref::borrow(Py_None);
    const TextPosition& start = (*span)->start;
    const TextPosition& end = (*span)->end;
    const std::size_t numbers[] = {start.line, start.column, start.offset,
                                   end.line,   end.column,   end.offset};
    Ref fields(PyTuple_New(std::size(numbers)));
    for (Py_ssize_t i = 0; fields && i < ssize(std::size(numbers)); ++i) {
        PyObject* number = PyLong_FromSize_t(numbers[i]);
        if (!number) return Ref();
        PyTuple_SetItem(fields.get(), i, number);
    }
    Ref args(fields ? PyTuple_Pack(2, type_, fields.get()) : nullptr);
    if (!args) return args;
    return Ref(PyObject_Call(tuple_new_, args.get(), nullptr));
}

} // namespace quarel::py
