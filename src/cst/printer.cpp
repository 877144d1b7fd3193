#include "cst/printer.hpp"

#include "cst/short_copy.hpp"

#include <cstring>

namespace quarel {

namespace {

template <class... F> struct Visitor : F... { using F::operator()...; };

// Printing runs over the tree twice: once counting bytes, once writing them
// into output grown once to size. Grown step by step, a string of megabytes
// was copied and its fresh pages faulted in at every step.
// A sink learns where each pair's key starts (start_pair) and its value ends
// (end_pair); only the locator keeps that.
struct Counter {
    std::size_t size = 0;
    void put(std::string_view s) noexcept { size += s.size(); }
    void put(const Text& t) noexcept { size += t.size(); }
    void put(char) noexcept { ++size; }
    std::size_t start_pair(const Pair&) noexcept { return 0; }
    void end_pair(std::size_t) noexcept {}
};

struct Writer {
    char* at;
    char* end;
    std::size_t start_pair(const Pair&) noexcept { return 0; }
    void end_pair(std::size_t) noexcept {}
    // An inline text goes as one 8-byte store; what follows it is overwritten
    // by the next put.
    void put(const Text& t) noexcept {
        if (!t.is_inline() || end - at < 8) return put(t.view());
        std::memcpy(at, t.inline_bytes(), 8);
        at += t.size();
    }
    void put(std::string_view s) noexcept {
        if (s.size() <= 16)
            copy_short(at, s.data(), s.size());
        else
            std::memcpy(at, s.data(), s.size());
        at += s.size();
    }
    void put(char c) noexcept { *at++ = c; }
};

// Follows offsets, lines and columns through the text instead of writing it.
struct Locator {
    std::vector<PairSpan>& spans;
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t line_start = 0;

    void put(std::string_view s) noexcept {
        const char* const begin = s.data();
        const char* const end = begin + s.size();
        for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
             ++p) {
            ++line;
            line_start = offset + static_cast<std::size_t>(p - begin) + 1;
        }
        offset += s.size();
    }
    void put(char c) noexcept { put(std::string_view(&c, 1)); }
    TextPosition here() const noexcept { return {offset, line, offset - line_start + 1}; }
    std::size_t start_pair(const Pair& pair) {
        spans.push_back({&pair, here(), {}});
        return spans.size() - 1;
    }
    void end_pair(std::size_t span) noexcept { spans[span].end = here(); }
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
                          [&](const Boxed<Expr>& v) {
                              out.put(v->text);
                              out.put(v->trailing);
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
    auto span = out.start_pair(p);
    out.put(p.key);
    out.put(p.before_colon);
    out.put(':');
    out.put(p.after_colon);
    if (!emit_value(p.value, out)) return false;
    out.end_pair(span);
    return true;
}

template <class Sink> bool emit_body(const Body& body, Sink& out) {
    if (body.byte_order_mark) out.put(utf8_bom);
    for (const PairRef& p : body.pairs)
        if (!emit_pair(p, out, true)) return false;
    out.put(body.trailing);
    return true;
}

// Counts, asks `buffer` for memory of that size (null stops the printing),
// writes.
template <class Emit, class Buffer> bool print_counted(Emit emit, Buffer buffer) {
    Counter counter;
    if (!emit(counter)) return false;
    char* at = buffer(counter.size);
    if (!at) return false;
    Writer writer{at, at + counter.size};
    return emit(writer);
}

// Appends to `out`, grown once.
template <class Emit> bool print_sized(std::string& out, Emit emit) {
    return print_counted(emit, [&](std::size_t size) {
        std::size_t start = out.size();
        out.resize(start + size);
        return out.data() + start;
    });
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
    return print_counted([&](auto& sink) { return emit_body(body, sink); }, buffer);
}

bool locate_pairs(const Body& body, std::vector<PairSpan>& spans) {
    Locator locator{spans};
    return emit_body(body, locator);
}

void print_list_value(const ListValue& value, std::string& out) {
    print_sized(out, [&](auto& sink) {
        emit_list_value(value, sink);
        return true;
    });
}

} // namespace quarel
