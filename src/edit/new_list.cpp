#include "edit/new_list.hpp"

#include "edit/scalars.hpp"

#include <optional>

namespace quarel {

namespace {

// The quoting shown by a plain text value, if it is one.
std::optional<Quoting> quoting_of(const ListValue& value) noexcept {
    if (std::holds_alternative<Literal>(value)) return Quoting::bare_when_possible;
    if (std::holds_alternative<String>(value)) return Quoting::always_quoted;
    return std::nullopt;
}

} // namespace

Quoting element_quoting(const List* existing) {
    if (existing)
        for (const ListItem& item : existing->items)
            if (auto quoting = quoting_of(item.value)) return *quoting;
    return Quoting::bare_when_possible;
}

Quoting pair_value_quoting(const List* existing) {
    if (existing)
        for (const ListItem& item : existing->items)
            if (auto* pair = std::get_if<Boxed<ListPair>>(&item.value))
                if (auto quoting = quoting_of((*pair)->value)) return *quoting;
    return Quoting::always_quoted;
}

ListValue list_text(std::string_view text, Quoting quoting) {
    if (quoting == Quoting::bare_when_possible && is_literal(text)) return Literal{Text(text)};
    return String{Text(escape_string(text))};
}

ListValue list_pair(std::string_view key, ListValue value) {
    return ListValue(Boxed<ListPair>(ListPair{Text(key), Text(), Text(" "), std::move(value)}));
}

List new_list(std::vector<ListValue> values) {
    List list;
    list.items.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        list.items.push_back(ListItem{Text(i ? " " : ""), std::move(values[i]), std::nullopt});
        if (i + 1 < values.size()) list.items.back().before_comma = Text();
    }
    return list;
}

} // namespace quarel
