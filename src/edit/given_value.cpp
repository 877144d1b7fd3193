#include "edit/given_value.hpp"

#include "edit/new_list.hpp"
#include "edit/scalars.hpp"
#include "edit/token.hpp"
#include "parser/lexer.hpp"

namespace quarel {

namespace {

// The text of a number or truth value, which stands bare; nullopt for text.
std::optional<std::string_view> bare_text(const GivenScalar& scalar) {
    if (auto* number = std::get_if<GivenNumber>(&scalar)) return number->text;
    if (auto* truth = std::get_if<bool>(&scalar)) return *truth ? "yes" : "no";
    return std::nullopt;
}

// A scalar element: a bare number or truth value, text as `quoting` says.
std::variant<ListValue, EditError> element_scalar(const GivenScalar& scalar, Quoting quoting) {
    if (auto text = bare_text(scalar)) {
        auto literal = literal_value(*text);
        if (auto* error = std::get_if<EditError>(&literal)) return std::move(*error);
        return ListValue(std::get<Literal>(std::move(literal)));
    }
    return list_text(std::get<std::string>(scalar), quoting);
}

std::variant<List, EditError> make_list(const GivenList& given, const List* existing);

std::variant<ListValue, EditError> nested(const GivenList& given) {
    auto list = make_list(given, nullptr);
    if (auto* error = std::get_if<EditError>(&list)) return std::move(*error);
    return ListValue(Boxed<List>(std::get<List>(std::move(list))));
}

std::variant<ListValue, EditError> element(const GivenElement& given, Quoting plain,
                                           Quoting pair_value) {
    if (auto* scalar = std::get_if<GivenScalar>(&given.value))
        return element_scalar(*scalar, plain);
    if (auto* list = std::get_if<GivenList>(&given.value)) return nested(*list);
    const GivenPair& pair = std::get<GivenPair>(given.value);
    if (auto error = check_token(pair.key, TokenRole::key)) return std::move(*error);
    auto value = std::holds_alternative<GivenList>(pair.value)
                     ? nested(std::get<GivenList>(pair.value))
                     : element_scalar(std::get<GivenScalar>(pair.value), pair_value);
    if (auto* error = std::get_if<EditError>(&value)) return std::move(*error);
    return list_pair(pair.key, std::get<ListValue>(std::move(value)));
}

// Nested lists follow no existing list: their texts bare where they can be,
// their pair values quoted.
std::variant<List, EditError> make_list(const GivenList& given, const List* existing) {
    const Quoting plain = element_quoting(existing), pair_value = pair_value_quoting(existing);
    std::vector<ListValue> values;
    values.reserve(given.elements.size());
    for (const GivenElement& each : given.elements) {
        auto value = element(each, plain, pair_value);
        if (auto* error = std::get_if<EditError>(&value)) return std::move(*error);
        values.push_back(std::get<ListValue>(std::move(value)));
    }
    return new_list(std::move(values));
}

} // namespace

std::variant<Value, EditError> new_value(std::string_view key, const GivenValue& given,
                                         std::optional<Kind> kind, const List* existing) {
    if (auto* list = std::get_if<GivenList>(&given)) {
        auto made = make_list(*list, existing);
        if (auto* error = std::get_if<EditError>(&made)) return std::move(*error);
        return Value(Boxed<List>(std::get<List>(std::move(made))));
    }
    const GivenScalar& scalar = std::get<GivenScalar>(given);
    const std::optional<std::string_view> bare = bare_text(scalar);
    if (kind == Kind::list || kind == Kind::block) kind.reset(); // no scalar's kind
    if (!bare && !kind) return infer_scalar(key, std::get<std::string>(scalar));
    return scalar_value(kind.value_or(Kind::literal),
                        bare ? *bare : std::string_view(std::get<std::string>(scalar)));
}

Kind assigned_kind(Kind held, const GivenValue& given) {
    auto* scalar = std::get_if<GivenScalar>(&given);
    auto* text = scalar ? std::get_if<std::string>(scalar) : nullptr;
    if (held == Kind::literal && text && !lex::is_bare_token(*text)) return Kind::string;
    return held;
}

} // namespace quarel
