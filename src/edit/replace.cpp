#include "edit/replace.hpp"

#include "cst/printer.hpp"
#include "edit/comment_text.hpp"
#include "edit/layout.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quarel {

namespace {

std::optional<Text> comma_spacing(const ListItem& item) {
    if (!item.before_comma) return std::nullopt;
    return Text(leading_spacing(*item.before_comma));
}

// An item's spacing without comments: its line break when a comment ends the
// line before it, then the spacing up to its own first comment.
std::string item_spacing(std::string_view leading) {
    const Leading parts = divide(leading, false);
    std::string_view comment = line_end_comment(parts.line_end);
    return std::string(parts.line_end.substr(comment.size())) +
           std::string(leading_spacing(leading.substr(parts.line_end.size())));
}

std::string printed(const ListValue& value) {
    std::string out;
    print_list_value(value, out);
    return out;
}

} // namespace

void set_value(Pair& pair, Value value) {
    const Expr* old_expr = expr_of(pair.value);
    Expr* new_expr = expr_of(value);
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
    const std::size_t m = fresh.items.size();
    // An item that stays as it was, where it was, keeps its comments: those
    // above it and the one ending its line, which lies in what follows it.
    std::vector<bool> kept(m);
    for (std::size_t i = 0; i < m && i < n; ++i)
        kept[i] = printed(old.items[i].value) == printed(fresh.items[i].value);
    // Old item j's line ends in what follows it: the next item's leading, or
    // the trailing. Its comment goes with it when it is kept.
    auto line_end_after = [&](std::size_t j) {
        return divide(j + 1 < n ? old.items[j + 1].leading.view() : old.trailing.view(), false)
            .line_end;
    };
    auto kept_comment = [&](std::size_t j) {
        return j < n && kept[j] ? line_end_comment(line_end_after(j)) : std::string_view();
    };
    const ListItem& old_last = old.items.back();
    // The spacing of items beyond the old ones: that of the old last item
    // (a lone old item lends only a line break), and the comma spacing of
    // the old item before the last.
    const std::string last_spacing = item_spacing(old_last.leading);
    const std::string extra_leading = n >= 2 || has_line_feed(last_spacing) ? last_spacing : " ";
    const Text extra_comma = n >= 2 ? comma_spacing(old.items[n - 2]).value_or(Text()) : Text();
    for (std::size_t i = 0; i < m; ++i) {
        ListItem& item = fresh.items[i];
        std::string leading;
        if (i < n) {
            std::string_view text = old.items[i].leading;
            const Leading parts = divide(text, false);
            std::string_view line_end = parts.line_end;
            // The end of the `[` line belongs to the list.
            if (i > 0) line_end.remove_prefix(line_end_comment(line_end).size());
            std::string_view lines = text.substr(parts.line_end.size());
            leading = std::string(line_end) +
                      (kept[i] ? std::string(lines) : std::string(leading_spacing(lines)));
        } else {
            leading = extra_leading;
        }
        if (std::string_view comment = i > 0 ? kept_comment(i - 1) : std::string_view();
            !comment.empty()) {
            std::string_view line_break = line_end_after(i - 1).substr(comment.size());
            if (!has_line_feed(leading))
                leading = std::string(line_break) + std::string(line_indent(last_spacing));
            leading = prepend_end_comment(comment, line_break, leading);
        }
        item.leading = Text(leading);
        if (i + 1 == m)
            item.before_comma = comma_spacing(old_last);
        else if (i + 1 < n && old.items[i].before_comma)
            item.before_comma = comma_spacing(old.items[i]);
        else
            item.before_comma = extra_comma;
    }
    // The old trailing, without the comment ending the old last item's line
    // and with that of the new last item if it stays.
    std::string_view trailing = old.trailing;
    trailing.remove_prefix(find_end_comment(trailing).size());
    if (std::string_view comment = m > 0 ? kept_comment(m - 1) : std::string_view();
        !comment.empty())
        fresh.trailing = Text(
            prepend_end_comment(comment, line_end_after(m - 1).substr(comment.size()), trailing));
    else
        fresh.trailing = Text(trailing);
    return fresh;
}

} // namespace quarel
