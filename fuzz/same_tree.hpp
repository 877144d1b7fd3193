// Whether an edited tree and the tree parsed back from its printed text hold
// the same document: the same pairs, keys, kinds, scalar texts, names, list
// shapes and comments, and the same text for each pair.
//
// Whitespace may sit in a different field after the round trip (the spacing
// of a block whose name was removed moves from before its brace to after
// the colon), so pairs and lists are compared by what they print as, not
// field by field.
#pragma once

#include "cst/printer.hpp"
#include "cst/tree.hpp"

#include <string>

namespace quarel::fuzz {

inline std::string printed(const PairRef& pair) {
    std::string out;
    print_pair(pair, out, true);
    return out;
}

inline bool same_list(const List& a, const List& b);

inline bool same_list_value(const ListValue& a, const ListValue& b) {
    if (a.index() != b.index()) return false;
    if (auto* x = std::get_if<Literal>(&a)) return x->text.view() == std::get<Literal>(b).text;
    if (auto* x = std::get_if<String>(&a)) return x->content.view() == std::get<String>(b).content;
    if (auto* x = std::get_if<Boxed<ListPair>>(&a)) {
        const ListPair& y = *std::get<Boxed<ListPair>>(b);
        return (*x)->key.view() == y.key && same_list_value((*x)->value, y.value);
    }
    return same_list(*std::get<Boxed<List>>(a), *std::get<Boxed<List>>(b));
}

inline bool same_list(const List& a, const List& b) {
    if (a.items.size() != b.items.size()) return false;
    for (std::size_t i = 0; i < a.items.size(); ++i)
        if (!same_list_value(a.items[i].value, b.items[i].value)) return false;
    return true;
}

inline bool same_body(const Body& a, const Body& b);

inline bool same_pair(const PairRef& a, const PairRef& b) {
    const Pair &x = *a, &y = *b;
    if (x.key.view() != y.key || x.leading.view() != y.leading) return false;
    if (kind_of(x.value) != kind_of(y.value) || printed(a) != printed(b)) return false;
    switch (kind_of(x.value)) {
    case Kind::literal:
        return std::get<Literal>(x.value).text.view() == std::get<Literal>(y.value).text;
    case Kind::string:
        return std::get<String>(x.value).content.view() == std::get<String>(y.value).content;
    case Kind::expr: return expr_of(x.value)->text.view() == expr_of(y.value)->text;
    case Kind::list: return same_list(*list_of(x.value), *list_of(y.value));
    case Kind::block: {
        const Block &p = *block_of(x.value), &q = *block_of(y.value);
        if (p.name.has_value() != q.name.has_value()) return false;
        if (p.name && p.name->view() != *q.name) return false;
        return same_body(p.body, q.body);
    }
    }
    return false;
}

inline bool same_body(const Body& a, const Body& b) {
    if (a.pairs.size() != b.pairs.size() || a.trailing.view() != b.trailing) return false;
    for (std::size_t i = 0; i < a.pairs.size(); ++i)
        if (!same_pair(a.pairs[i], b.pairs[i])) return false;
    return true;
}

} // namespace quarel::fuzz
