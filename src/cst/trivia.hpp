// The trivia slots of a tree in print order: every text of whitespace and
// comments between its tokens, and the text of each expression, whose lines'
// indentation is layout too. A walk visits one tree, or several trees of one
// shape in step (a document and the same document formatted), so that what
// reads, counts or moves the whitespace of a tree does not walk its lists
// and blocks by hand.
//
// A visitor defines what it needs of:
//   slot(Slot, Text&...)        each slot, one text of each tree
//   token(std::string_view)     every other text of the first tree, between
//                               the slots (keys, names, values, punctuation)
//   open(const void*), close(const void*)
//                               around each list and each block's body,
//                               named by the first tree's node
// A pair of the first tree locked for writing is passed over, as the
// printer stops at it.
#pragma once

#include "cst/tree.hpp"

#include <cstdint>
#include <string_view>
#include <type_traits>

namespace quarel {

enum class Slot : std::uint8_t {
    leading,           // a pair's: from what precedes it to its key
    before_colon,      // of a pair, or of a pair in a list
    after_colon,       // of a pair (but an expression's), or of a pair in a list
    before_expression, // after the colon of a pair whose value is an expression
    expression,        // an expression's text: no trivia, but its lines are laid out
    before_end,        // between an expression's text and its `;;`
    before_brace,      // between a block's name and its `{`
    body_end,          // a body's trailing
    item_leading,      // in front of a list element
    before_comma,      // between a list element and its comma
    list_end,          // a list's trailing
};

namespace trivia_detail {

template <class V>
concept counts = requires(V& v) {
    v.token(std::string_view());
};
template <class V>
concept nests = requires(V& v, const void* node) {
    v.open(node);
    v.close(node);
};

// The node of the first tree as the visitor takes it, const or not.
template <class First, class T> using like = std::conditional_t<std::is_const_v<First>, const T, T>;

template <class Visit> void token(Visit& visit, std::string_view text) {
    if constexpr (counts<Visit>) visit.token(text);
}

// A literal or a string, of a pair or of a list: tokens alone. False for
// anything else.
template <class Visit, class V> bool scalar(Visit& visit, const V& value) {
    if (auto* literal = std::get_if<Literal>(&value)) {
        token(visit, literal->text.view());
        return true;
    }
    auto* string = std::get_if<String>(&value);
    if (!string) return false;
    token(visit, "\"");
    token(visit, string->content.view());
    token(visit, "\"");
    return true;
}

template <class Visit, class First, class... Rest>
void list(Visit& visit, First& first, Rest&... rest);

template <class Visit, class First, class... Rest>
void list_value(Visit& visit, First& first, Rest&... rest) {
    if (scalar(visit, first)) return;
    if (auto* nested = std::get_if<Boxed<List>>(&first))
        return list(visit, static_cast<like<First, List>&>(**nested),
                    *std::get<Boxed<List>>(rest)...);
    like<First, ListPair>& pair = *std::get<Boxed<ListPair>>(first);
    token(visit, pair.key.view());
    visit.slot(Slot::before_colon, pair.before_colon,
               std::get<Boxed<ListPair>>(rest)->before_colon...);
    token(visit, ":");
    visit.slot(Slot::after_colon, pair.after_colon,
               std::get<Boxed<ListPair>>(rest)->after_colon...);
    list_value(visit, pair.value, std::get<Boxed<ListPair>>(rest)->value...);
}

template <class Visit, class First, class... Rest>
void list(Visit& visit, First& first, Rest&... rest) {
    if constexpr (nests<Visit>) visit.open(&first);
    token(visit, "[");
    for (std::size_t i = 0; i < first.items.size(); ++i) {
        auto& item = first.items[i];
        visit.slot(Slot::item_leading, item.leading, rest.items[i].leading...);
        list_value(visit, item.value, rest.items[i].value...);
        if (!item.before_comma) continue;
        visit.slot(Slot::before_comma, *item.before_comma, *rest.items[i].before_comma...);
        token(visit, ",");
    }
    visit.slot(Slot::list_end, first.trailing, rest.trailing...);
    token(visit, "]");
    if constexpr (nests<Visit>) visit.close(&first);
}

template <class Visit, class First, class... Rest>
void body(Visit& visit, First& first, Rest&... rest);

template <class Visit, class First, class... Rest>
void value(Visit& visit, First& first, Rest&... rest) {
    if (scalar(visit, first)) return;
    if (auto* expr = std::get_if<Boxed<Expr>>(&first)) {
        like<First, Expr>& e = **expr;
        visit.slot(Slot::expression, e.text, std::get<Boxed<Expr>>(rest)->text...);
        visit.slot(Slot::before_end, e.trailing, std::get<Boxed<Expr>>(rest)->trailing...);
        return token(visit, ";;");
    }
    if (auto* l = std::get_if<Boxed<List>>(&first))
        return list(visit, static_cast<like<First, List>&>(**l), *std::get<Boxed<List>>(rest)...);
    like<First, Block>& block = *std::get<Boxed<Block>>(first);
    if (block.name) token(visit, block.name->view());
    visit.slot(Slot::before_brace, block.before_brace,
               std::get<Boxed<Block>>(rest)->before_brace...);
    token(visit, "{");
    body(visit, block.body, std::get<Boxed<Block>>(rest)->body...);
    token(visit, "}");
}

template <class Visit, class First, class... Rest>
void body(Visit& visit, First& first, Rest&... rest) {
    if constexpr (nests<Visit>) visit.open(&first);
    for (std::size_t i = 0; i < first.pairs.size(); ++i) {
        if (first.pairs[i].lock().writing()) continue;
        like<First, Pair>& pair = *first.pairs[i];
        visit.slot(Slot::leading, pair.leading, rest.pairs[i]->leading...);
        token(visit, pair.key.view());
        visit.slot(Slot::before_colon, pair.before_colon, rest.pairs[i]->before_colon...);
        token(visit, ":");
        visit.slot(expr_of(pair.value) ? Slot::before_expression : Slot::after_colon,
                   pair.after_colon, rest.pairs[i]->after_colon...);
        value(visit, pair.value, rest.pairs[i]->value...);
    }
    visit.slot(Slot::body_end, first.trailing, rest.trailing...);
    if constexpr (nests<Visit>) visit.close(&first);
}

} // namespace trivia_detail

// Visits the slots of one body, or of bodies of one shape in step; a root
// body's byte-order mark, if any, is the first token.
template <class Visit, class First, class... Rest>
void visit_trivia(Visit&& visit, First& first, Rest&... rest) {
    if (first.byte_order_mark) trivia_detail::token(visit, utf8_bom);
    trivia_detail::body(visit, first, rest...);
}

} // namespace quarel
