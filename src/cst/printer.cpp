#include "cst/printer.hpp"

namespace quarel {

namespace {

template <class... F> struct Visitor : F... { using F::operator()...; };

void quoted(std::string_view content, std::string& out) {
    out += '"';
    out += content;
    out += '"';
}

} // namespace

bool print_body(const Body& body, std::string& out) {
    for (const PairRef& p : body.pairs)
        if (!print_pair(p, out, true)) return false;
    out += body.trailing.view();
    return true;
}

bool print_pair(const PairRef& pair, std::string& out, bool include_leading) {
    ReadGuard guard(pair.lock());
    if (!guard) return false;
    const Pair& p = *pair;
    if (include_leading) out += p.leading.view();
    out += p.key.view();
    out += p.before_colon.view();
    out += ':';
    out += p.after_colon.view();
    return print_value(p.value, out);
}

bool print_value(const Value& value, std::string& out) {
    return std::visit(Visitor{
                          [&](const Literal& v) {
                              out += v.text.view();
                              return true;
                          },
                          [&](const String& v) {
                              quoted(v.content, out);
                              return true;
                          },
                          [&](const Expr& v) {
                              out += v.text.view();
                              out += v.trailing.view();
                              out += ";;";
                              return true;
                          },
                          [&](const Boxed<List>& v) {
                              print_list(*v, out);
                              return true;
                          },
                          [&](const Boxed<Block>& v) {
                              if (v->name) out += v->name->view();
                              out += v->before_brace.view();
                              out += '{';
                              if (!print_body(v->body, out)) return false;
                              out += '}';
                              return true;
                          },
                      },
                      value);
}

void print_list(const List& list, std::string& out) {
    out += '[';
    for (const ListItem& item : list.items) {
        out += item.leading.view();
        print_list_value(item.value, out);
        if (item.before_comma) {
            out += item.before_comma->view();
            out += ',';
        }
    }
    out += list.trailing.view();
    out += ']';
}

void print_list_value(const ListValue& value, std::string& out) {
    std::visit(Visitor{
                   [&](const Literal& v) { out += v.text.view(); },
                   [&](const String& v) { quoted(v.content, out); },
                   [&](const Boxed<ListPair>& v) {
                       out += v->key.view();
                       out += v->before_colon.view();
                       out += ':';
                       out += v->after_colon.view();
                       print_list_value(v->value, out);
                   },
                   [&](const Boxed<List>& v) { print_list(*v, out); },
               },
               value);
}

} // namespace quarel
