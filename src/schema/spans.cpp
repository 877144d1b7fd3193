#include "schema/spans.hpp"

#include <cstring>
#include <string>

namespace quarel {

void Cursor::over(std::string_view text) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    at.offset += text.size();
    while (const char* line_end = static_cast<const char*>(std::memchr(p, '\n', end - p))) {
        ++at.line;
        at.column = 1;
        p = line_end + 1;
    }
    at.column += static_cast<std::size_t>(end - p);
}

namespace {

// A span over text that holds no line break.
Span on_one_line(TextPosition start, std::size_t length) noexcept {
    return {start, {start.offset + length, start.line, start.column + length}};
}

} // namespace

Span element_span(const ListValue& value, TextPosition start) {
    std::string text;
    print_list_value(value, text);
    Cursor cursor{start};
    cursor.over(text);
    return {start, cursor.at};
}

Span key_span(const Pair& pair, const PairSpan& where) noexcept {
    return on_one_line(where.start, pair.key.size());
}

TextPosition value_start(const Pair& pair, const PairSpan& where) noexcept {
    Cursor cursor{key_span(pair, where).end};
    cursor.over(pair.before_colon);
    cursor.over(':');
    cursor.over(pair.after_colon);
    return cursor.at;
}

Span value_span(const Pair& pair, const PairSpan& where) noexcept {
    return {value_start(pair, where), where.end};
}

Span name_span(const Pair& pair, const PairSpan& where) noexcept {
    const Block* block = block_of(pair.value);
    if (!block || !block->name) return key_span(pair, where);
    return on_one_line(value_start(pair, where), block->name->size());
}

Span head_span(const Pair& pair, const PairSpan& where) noexcept {
    return {where.start, name_span(pair, where).end};
}

std::vector<Span> item_spans(const List& list, TextPosition start) {
    std::vector<Span> spans;
    Cursor cursor{start};
    cursor.over('[');
    for (const ListItem& item : list.items) {
        cursor.over(item.leading);
        spans.push_back(element_span(item.value, cursor.at));
        cursor.at = spans.back().end;
        if (item.before_comma) {
            cursor.over(*item.before_comma);
            cursor.over(',');
        }
    }
    return spans;
}

Span list_key_span(const ListPair& pair, TextPosition start) noexcept {
    return on_one_line(start, pair.key.size());
}

Span list_value_span(const ListPair& pair, TextPosition start) {
    Cursor cursor{list_key_span(pair, start).end};
    cursor.over(pair.before_colon);
    cursor.over(':');
    cursor.over(pair.after_colon);
    return element_span(pair.value, cursor.at);
}

} // namespace quarel
