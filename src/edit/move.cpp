#include "edit/move.hpp"

#include "cst/printer.hpp"
#include "edit/comment_text.hpp"
#include "edit/depth.hpp"
#include "edit/find.hpp"
#include "edit/insert.hpp"
#include "edit/layout.hpp"
#include "edit/relay.hpp"
#include "edit/snippet.hpp"
#include "parser/parser.hpp"

#include <string>
#include <variant>

namespace quarel {

std::optional<EditError> check_move(const PairRef& pair, const Pair& held, const PairRef* into,
                                    int level) {
    if (into) {
        std::variant<bool, Busy> inside = encloses(pair, held, *into);
        if (std::holds_alternative<Busy>(inside)) return make_error(ErrorCode::pair_busy);
        if (std::get<bool>(inside))
            return make_error(ErrorCode::move_into_itself, {held.key.view()});
    }
    return check_depth(level + depth(held.value));
}

std::optional<EditError> insert_moved(Body& body, std::size_t index, const PairRef& pair,
                                      bool opened_document, std::string_view base_indent,
                                      bool top_level, int depth, const Style& style) {
    std::optional<std::string> indentation = child_indent(body, base_indent, top_level, style);
    // Its own comment lines and its text, at the depth it stood at.
    std::string source;
    std::optional<std::string_view> old_depth;
    {
        ReadGuard guard(pair.lock());
        if (!indentation || !guard) return make_error(ErrorCode::pair_busy);
        std::string_view leading = pair->leading;
        const Leading parts = divide(leading, opened_document);
        source = std::string(parts.attached) + std::string(parts.indent);
        if (opened_document || has_line_feed(leading)) old_depth = parts.indent;
    }
    if (!print_pair(pair, source, false)) return make_error(ErrorCode::pair_busy);
    std::variant<Body, ParseError> parsed =
        parse(fit_snippet(source, *indentation, style, old_depth), depth);
    if (std::holds_alternative<ParseError>(parsed)) return make_error(ErrorCode::unreadable_move);
    Body& fitted = std::get<Body>(parsed);

    WriteGuard guard(pair.lock());
    if (!guard) return make_error(ErrorCode::pair_busy);
    Pair& moved = *pair;
    if (fitted.pairs.size() != 1 || !same_shape(moved, *fitted.pairs.front()))
        return make_error(ErrorCode::unreadable_move);
    relay(moved, std::move(*fitted.pairs.front()));
    std::string end = moved.loose_end ? moved.loose_end->str() : std::string();
    if (!place_pairs(body, index, {pair}, base_indent, top_level, style, end))
        return make_error(ErrorCode::pair_busy);
    moved.loose_end.reset();
    return std::nullopt;
}

} // namespace quarel
