// The recovering parse: every error of a text. After an error a body skips
// to the next line that starts (after its spaces and tabs) a `key:` no
// deeper than the line of the pair that failed, and that key is read in the
// innermost open block whose own line is indented less; or, in a block, to
// a line that starts with a `}` indented less than the failing line, which
// closes the block. Strings, comments and expressions on the way are
// skipped whole, so that their lines are not taken for keys. A skip that
// reaches the end of the text ends the parse: an unterminated string has
// the rest of the text in it. A block still open at the end is one error
// there, whatever encloses it.
#include "parser/parser.hpp"

#include "parser/grammar.hpp"

namespace quarel {

std::vector<ParseError> syntax_errors(std::string_view source, bool file) {
    return grammar::Parser<true>(source, 0).errors(file);
}

MendedText mended_text(std::string_view source, bool file) {
    return grammar::Parser<true>(source, 0).mended(file);
}

} // namespace quarel
