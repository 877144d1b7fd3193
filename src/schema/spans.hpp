// Where the parts of a pair stand in its document's text: its key, a
// block's name, its value, and the elements of a list value, found from the
// pair's place (cst/locations.hpp) by following its text.
#pragma once

#include "cst/printer.hpp"

#include <string_view>
#include <vector>

namespace quarel {

struct Span {
    TextPosition start;
    TextPosition end;
};

// Moves a position over text.
struct Cursor {
    TextPosition at;
    void over(std::string_view text) noexcept;
    void over(char c) noexcept { over(std::string_view(&c, 1)); }
};

Span key_span(const Pair& pair, const PairSpan& where) noexcept;
// Where the value starts: past the colon and what follows it.
TextPosition value_start(const Pair& pair, const PairSpan& where) noexcept;
// The value, from its start to the end of the pair.
Span value_span(const Pair& pair, const PairSpan& where) noexcept;
// A block's key and name (its key alone without a name): what names it.
Span head_span(const Pair& pair, const PairSpan& where) noexcept;
// A block's name; its key when it has none.
Span name_span(const Pair& pair, const PairSpan& where) noexcept;

// A list element that starts at `start`, and its end.
Span element_span(const ListValue& value, TextPosition start);
// The items of a list that starts at `start`, in order.
std::vector<Span> item_spans(const List& list, TextPosition start);
// A list pair's key and value, the pair starting at `start`.
Span list_key_span(const ListPair& pair, TextPosition start) noexcept;
Span list_value_span(const ListPair& pair, TextPosition start);

} // namespace quarel
