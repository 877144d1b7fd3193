#include "cst/printer.hpp"

#include "cst/short_copy.hpp"

#include <cstring>

namespace quarel {

namespace {

template <class... F> struct Visitor : F... { using F::operator()...; };

// Output is written into memory of its size, known beforehand (a
// document's, from its parse or its last print) or counted by a walk of its
// own. Grown step by step, a string of megabytes was copied and its fresh
// pages faulted in at every step.
//
// A sink learns where each pair's key starts (start_pair) and its value ends
// (end_pair); only the locator keeps that. It is stopped when printing
// meets a pair locked for writing. Sinks are small values, passed and
// returned by value: held in memory, a writer's position would be reloaded
// after every byte stored through it.
struct Counter {
    std::size_t size = 0;
    bool halted = false;
    void stop() noexcept { halted = true; }
    bool stopped() const noexcept { return halted; }
    void put(std::string_view s) noexcept { size += s.size(); }
    void put(const Text& t) noexcept { size += t.size(); }
    void put(char) noexcept { ++size; }
    std::size_t start_pair(const Pair&) noexcept { return 0; }
    void end_pair(std::size_t) noexcept {}
};

// Writes into [at, end). Text that would not fit stops it, as a size kept
// from an earlier print or parse is taken on trust. A stopped writer has no
// room left at all (both pointers null), which keeps it two words, passed
// and returned in registers.
struct Writer {
    char* at;
    char* end;
    void stop() noexcept { at = end = nullptr; }
    bool stopped() const noexcept { return !at; }
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
        if (s.size() > static_cast<std::size_t>(end - at)) {
            stop();
            return;
        }
        if (s.size() <= 16)
            copy_short(at, s.data(), s.size());
        else
            std::memcpy(at, s.data(), s.size());
        at += s.size();
    }
    void put(char c) noexcept {
        if (at == end) {
            stop();
            return;
        }
        *at++ = c;
    }
};

// Follows offsets, lines and columns through the text instead of writing it.
struct Locator {
    std::vector<PairSpan>* spans;
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t line_start = 0;
    bool halted = false;
    void stop() noexcept { halted = true; }
    bool stopped() const noexcept { return halted; }

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
        spans->push_back({&pair, here(), {}});
        return spans->size() - 1;
    }
    void end_pair(std::size_t span) noexcept { (*spans)[span].end = here(); }
};

template <class Sink> Sink emit_body(const Body& body, Sink out);

template <class Sink> void emit_quoted(std::string_view content, Sink& out) {
    out.put('"');
    out.put(content);
    out.put('"');
}

template <class Sink> Sink emit_list_value(const ListValue& value, Sink out);

template <class Sink> Sink emit_list(const List& list, Sink out) {
    out.put('[');
    for (const ListItem& item : list.items) {
        out.put(item.leading);
        out = emit_list_value(item.value, out);
        if (item.before_comma) {
            out.put(*item.before_comma);
            out.put(',');
        }
    }
    out.put(list.trailing);
    out.put(']');
    return out;
}

template <class Sink> Sink emit_list_value(const ListValue& value, Sink out) {
    std::visit(Visitor{
                   [&](const Literal& v) { out.put(v.text); },
                   [&](const String& v) { emit_quoted(v.content, out); },
                   [&](const Boxed<ListPair>& v) {
                       out.put(v->key);
                       out.put(v->before_colon);
                       out.put(':');
                       out.put(v->after_colon);
                       out = emit_list_value(v->value, out);
                   },
                   [&](const Boxed<List>& v) { out = emit_list(*v, out); },
               },
               value);
    return out;
}

// A pair and its value are inlined into the body's loop by force, as the
// recursion through blocks keeps the compiler from it: calls per pair cost
// some 30 to 50 instructions.
template <class Sink> [[gnu::always_inline]] inline Sink emit_value(const Value& value, Sink out) {
    std::visit(Visitor{
                   [&](const Literal& v) { out.put(v.text); },
                   [&](const String& v) { emit_quoted(v.content, out); },
                   [&](const Boxed<Expr>& v) {
                       out.put(v->text);
                       out.put(v->trailing);
                       out.put(";;");
                   },
                   [&](const Boxed<List>& v) { out = emit_list(*v, out); },
                   [&](const Boxed<Block>& v) {
                       if (v->name) out.put(*v->name);
                       out.put(v->before_brace);
                       out.put('{');
                       out = emit_body(v->body, out);
                       out.put('}');
                   },
               },
               value);
    return out;
}

template <class Sink>
[[gnu::always_inline]] inline Sink emit_pair(const PairRef& pair, Sink out, bool include_leading) {
    if (pair.lock().writing()) {
        out.stop();
        return out;
    }
    const Pair& p = *pair;
    if (include_leading) out.put(p.leading);
    auto span = out.start_pair(p);
    out.put(p.key);
    out.put(p.before_colon);
    out.put(':');
    out.put(p.after_colon);
    out = emit_value(p.value, out);
    out.end_pair(span);
    return out;
}

template <class Sink> Sink emit_body(const Body& body, Sink out) {
    if (body.byte_order_mark) out.put(utf8_bom);
    for (const PairRef& p : body.pairs) {
        out = emit_pair(p, out, true);
        if (out.stopped()) return out;
    }
    out.put(body.trailing);
    return out;
}

// Asks `buffer` for `size` bytes and writes into them: whether the text
// was exactly that size, or nullopt when `buffer` gave none.
template <class Emit, class Buffer>
std::optional<bool> write_sized(Emit& emit, Buffer& buffer, std::size_t size) {
    char* at = buffer(size);
    if (!at) return std::nullopt;
    Writer writer = emit(Writer{at, at + size});
    return !writer.stopped() && writer.at == writer.end;
}

// Writes into memory of the printed size from `buffer`: of `size`, when
// given and right, else of the size counted first (which also finds a pair
// locked for writing, when that stopped the first writing).
template <class Emit, class Buffer>
std::optional<std::size_t> print_counted(Emit emit, std::optional<std::size_t> size,
                                         Buffer buffer) {
    if (size) {
        std::optional<bool> exact = write_sized(emit, buffer, *size);
        if (!exact) return std::nullopt;
        if (*exact) return size;
    }
    Counter counter = emit(Counter{});
    if (counter.stopped()) return std::nullopt;
    std::optional<bool> exact = write_sized(emit, buffer, counter.size);
    if (!exact || !*exact) return std::nullopt;
    return counter.size;
}

// How much a writer started at `out` wrote, or nullopt when it stopped.
std::optional<std::size_t> written(const Writer& writer, const char* out) {
    if (writer.stopped()) return std::nullopt;
    return static_cast<std::size_t>(writer.at - out);
}

// Appends to `out`, grown once.
template <class Emit> bool print_sized(std::string& out, Emit emit) {
    const std::size_t start = out.size();
    return print_counted(emit, std::nullopt,
                         [&](std::size_t size) {
                             out.resize(start + size);
                             return out.data() + start;
                         })
        .has_value();
}

} // namespace

bool print_body(const Body& body, std::string& out) {
    return print_sized(out, [&](auto sink) { return emit_body(body, sink); });
}

bool print_pair(const PairRef& pair, std::string& out, bool include_leading) {
    return print_sized(out, [&](auto sink) { return emit_pair(pair, sink, include_leading); });
}

std::optional<std::size_t> print_body_within(const Body& body, char* out, std::size_t capacity) {
    return written(emit_body(body, Writer{out, out + capacity}), out);
}

std::optional<std::size_t> print_pair_within(const PairRef& pair, bool include_leading, char* out,
                                             std::size_t capacity) {
    return written(emit_pair(pair, Writer{out, out + capacity}, include_leading), out);
}

bool print_value(const Value& value, std::string& out) {
    return print_sized(out, [&](auto sink) { return emit_value(value, sink); });
}

std::optional<std::size_t> print_body_into(const Body& body, std::optional<std::size_t> size,
                                           const std::function<char*(std::size_t)>& buffer) {
    return print_counted([&](auto sink) { return emit_body(body, sink); }, size, buffer);
}

bool locate_pairs(const Body& body, std::vector<PairSpan>& spans) {
    Locator locator{&spans};
    // Columns of the first line count from after a byte-order mark, as an
    // editor shows them; offsets count it.
    if (body.byte_order_mark) locator.line_start = utf8_bom.size();
    return !emit_body(body, locator).stopped();
}

void print_list_value(const ListValue& value, std::string& out) {
    print_sized(out, [&](auto sink) { return emit_list_value(value, sink); });
}

} // namespace quarel
