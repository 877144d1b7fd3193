#include "edit/replace.hpp"

#include "edit/layout.hpp"

#include <optional>

namespace quarel {

namespace {

std::optional<Text> comma_spacing(const ListItem& item) {
    if (!item.before_comma) return std::nullopt;
    return Text(leading_spacing(*item.before_comma));
}

Text item_spacing(const ListItem& item) {
    return Text(leading_spacing(item.leading));
}

} // namespace

void set_value(Pair& pair, Value value) {
    auto* old_expr = std::get_if<Expr>(&pair.value);
    auto* new_expr = std::get_if<Expr>(&value);
    if (old_expr && new_expr) {
        new_expr->trailing = old_expr->trailing;
        // `a;` right before `;;` would read back as `a` and a stray `;`.
        if (new_expr->trailing.empty() && new_expr->text.view().ends_with(';'))
            new_expr->trailing = Text(" ");
    }
    const List* old_list = list_of(pair.value);
    if (List* new_list = list_of(value); old_list && new_list)
        *new_list = restyle_list(*old_list, std::move(*new_list));
    pair.value = std::move(value);
}

List restyle_list(const List& old, List fresh) {
    const std::size_t n = old.items.size();
    if (n == 0) return fresh;
    const ListItem& old_last = old.items.back();
    // The spacing of items beyond the old ones: that of the old last item
    // (a lone old item lends only a line break), and the comma spacing of
    // the old item before the last.
    const Text extra_leading =
        n >= 2 || has_line_feed(item_spacing(old_last)) ? item_spacing(old_last) : Text(" ");
    const Text extra_comma = n >= 2 ? comma_spacing(old.items[n - 2]).value_or(Text()) : Text();
    const std::size_t m = fresh.items.size();
    for (std::size_t i = 0; i < m; ++i) {
        ListItem& item = fresh.items[i];
        item.leading = i < n ? item_spacing(old.items[i]) : extra_leading;
        if (i + 1 == m)
            item.before_comma = comma_spacing(old_last);
        else if (i + 1 < n && old.items[i].before_comma)
            item.before_comma = comma_spacing(old.items[i]);
        else
            item.before_comma = extra_comma;
    }
    fresh.trailing = old.trailing;
    return fresh;
}

} // namespace quarel
