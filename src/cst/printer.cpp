#include "cst/printer.hpp"

#include "cst/short_copy.hpp"

#include <cstring>

namespace quarel {

namespace {

template <class... F> struct Visitor : F... { using F::operator()...; };

// Printing runs over the tree twice: once counting bytes, once writing them
// into output grown once to size. Grown step by step, a string of megabytes
// was copied and its fresh pages faulted in at every step.
struct Counter {
    std::size_t size = 0;
    void put(std::string_view s) noexcept { size += s.size(); }
    void put(char) noexcept { ++size; }
};

struct Writer {
    char* at;
    void put(std::string_view s) noexcept {
        if (s.size() <= 16)
            copy_short(at, s.data(), s.size());
        else
            std::memcpy(at, s.data(), s.size());
        at += s.size();
    }
    void put(char c) noexcept { *at++ = c; }
};

template <class Sink> bool emit_body(const Body& body, Sink& out);

template <class Sink> void emit_quoted(std::string_view content, Sink& out) {
    out.put('"');
    out.put(content);
    out.put('"');
}

template <class Sink> void emit_list_value(const ListValue& value, Sink& out);

template <class Sink> void emit_list(const List& list, Sink& out) {
    out.put('[');
    for (const ListItem& item : list.items) {
        out.put(item.leading);
        emit_list_value(item.value, out);
        if (item.before_comma) {
            out.put(*item.before_comma);
            out.put(',');
        }
    }
    out.put(list.trailing);
    out.put(']');
}

template <class Sink> void emit_list_value(const ListValue& value, Sink& out) {
    std::visit(Visitor{
                   [&](const Literal& v) { out.put(v.text); },
                   [&](const String& v) { emit_quoted(v.content, out); },
                   [&](const Boxed<ListPair>& v) {
                       out.put(v->key);
                       out.put(v->before_colon);
                       out.put(':');
                       out.put(v->after_colon);
                       emit_list_value(v->value, out);
                   },
                   [&](const Boxed<List>& v) { emit_list(*v, out); },
               },
               value);
}

template <class Sink> bool emit_value(const Value& value, Sink& out) {
    return std::visit(Visitor{
                          [&](const Literal& v) {
                              out.put(v.text);
                              return true;
                          },
                          [&](const String& v) {
                              emit_quoted(v.content, out);
                              return true;
                          },
                          [&](const Expr& v) {
                              out.put(v.text);
                              out.put(v.trailing);
                              out.put(";;");
                              return true;
                          },
                          [&](const Boxed<List>& v) {
                              emit_list(*v, out);
                              return true;
                          },
                          [&](const Boxed<Block>& v) {
                              if (v->name) out.put(*v->name);
                              out.put(v->before_brace);
                              out.put('{');
                              if (!emit_body(v->body, out)) return false;
                              out.put('}');
                              return true;
                          },
                      },
                      value);
}

template <class Sink> bool emit_pair(const PairRef& pair, Sink& out, bool include_leading) {
    ReadGuard guard(pair.lock());
    if (!guard) return false;
    const Pair& p = *pair;
    if (include_leading) out.put(p.leading);
    out.put(p.key);
    out.put(p.before_colon);
    out.put(':');
    out.put(p.after_colon);
    return emit_value(p.value, out);
}

template <class Sink> bool emit_body(const Body& body, Sink& out) {
    if (body.byte_order_mark) out.put(utf8_bom);
    for (const PairRef& p : body.pairs)
        if (!emit_pair(p, out, true)) return false;
    out.put(body.trailing);
    return true;
}

// Counts, grows `out` once, writes.
template <class Emit> bool print_sized(std::string& out, Emit emit) {
    Counter counter;
    if (!emit(counter)) return false;
    std::size_t start = out.size();
    out.resize(start + counter.size);
    Writer writer{out.data() + start};
    return emit(writer);
}

} // namespace

bool print_body(const Body& body, std::string& out) {
    return print_sized(out, [&](auto& sink) { return emit_body(body, sink); });
}

bool print_pair(const PairRef& pair, std::string& out, bool include_leading) {
    return print_sized(out, [&](auto& sink) { return emit_pair(pair, sink, include_leading); });
}

bool print_value(const Value& value, std::string& out) {
    return print_sized(out, [&](auto& sink) { return emit_value(value, sink); });
}

bool print_body_into(const Body& body, const std::function<char*(std::size_t)>& buffer) {
    Counter counter;
    if (!emit_body(body, counter)) return false;
    char* at = buffer(counter.size);
    if (!at) return false;
    Writer writer{at};
    return emit_body(body, writer);
}

void print_list_value(const ListValue& value, std::string& out) {
    print_sized(out, [&](auto& sink) {
        emit_list_value(value, sink);
        return true;
    });
}

} // namespace quarel
