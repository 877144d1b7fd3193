// The ordinary parse: the whole text, or its first error.
#include "parser/parser.hpp"

#include "parser/grammar.hpp"

namespace quarel {

std::variant<Body, ParseError> parse(std::string_view source, int depth) {
    return grammar::Parser<false>(source, depth).document(false);
}

std::variant<Body, ParseError> parse_file(std::string_view source) {
    return grammar::Parser<false>(source, 0).document(true);
}

} // namespace quarel
