#include "cst/printer.hpp"

#include <array>
#include <cstring>

namespace quarel {

namespace {

// Each byte value at its own address, and a zero after the last: a run of
// punctuation starts here and may look one byte past its end.
constexpr auto byte_values = [] {
    std::array<char, 257> bytes{};
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
    return bytes;
}();

} // namespace

// The sink of every print: it extends the current run while the next bytes
// to print are the ones that follow it in memory. Every text is followed by
// a readable byte, so a punctuation byte is looked for right after the run.
struct RunCollector {
    Printout& out;
    const char* begin = nullptr;
    const char* end = nullptr;

    void put(std::string_view s) {
        if (s.data() == end) {
            end += s.size();
        } else if (!s.empty()) {
            flush();
            begin = s.data();
            end = begin + s.size();
        }
    }
    void put(char c) {
        if (end && *end == c) {
            ++end;
        } else {
            flush();
            begin = &byte_values[static_cast<unsigned char>(c)];
            end = begin + 1;
        }
    }
    void flush() {
        if (begin == end) return;
        out.runs_.emplace_back(begin, static_cast<std::size_t>(end - begin));
        out.size_ += static_cast<std::size_t>(end - begin);
    }
};

namespace {

template <class... F> struct Visitor : F... { using F::operator()...; };

bool emit_body(const Body& body, RunCollector& out);

void emit_quoted(std::string_view content, RunCollector& out) {
    out.put('"');
    out.put(content);
    out.put('"');
}

void emit_list_value(const ListValue& value, RunCollector& out);

void emit_list(const List& list, RunCollector& out) {
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

void emit_list_value(const ListValue& value, RunCollector& out) {
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

bool emit_value(const Value& value, RunCollector& out) {
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

bool emit_pair(const PairRef& pair, RunCollector& out, bool include_leading) {
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

bool emit_body(const Body& body, RunCollector& out) {
    for (const PairRef& p : body.pairs)
        if (!emit_pair(p, out, true)) return false;
    out.put(body.trailing);
    return true;
}

template <class Emit> bool print_collected(Printout& out, Emit emit) {
    RunCollector collector{out};
    if (!emit(collector)) return false;
    collector.flush();
    return true;
}

template <class Emit> bool print_to_string(std::string& out, Emit emit) {
    Printout printed;
    if (!print_collected(printed, emit)) return false;
    printed.append_to(out);
    return true;
}

} // namespace

void Printout::copy_to(char* out) const noexcept {
    for (std::string_view run : runs_) {
        std::memcpy(out, run.data(), run.size());
        out += run.size();
    }
}

void Printout::append_to(std::string& out) const {
    out.reserve(out.size() + size_);
    for (std::string_view run : runs_) out.append(run);
}

bool print_body(const Body& body, Printout& out) {
    return print_collected(out, [&](RunCollector& sink) { return emit_body(body, sink); });
}

bool print_body(const Body& body, std::string& out) {
    return print_to_string(out, [&](RunCollector& sink) { return emit_body(body, sink); });
}

bool print_pair(const PairRef& pair, std::string& out, bool include_leading) {
    return print_to_string(
        out, [&](RunCollector& sink) { return emit_pair(pair, sink, include_leading); });
}

bool print_value(const Value& value, std::string& out) {
    return print_to_string(out, [&](RunCollector& sink) { return emit_value(value, sink); });
}

} // namespace quarel
