// The recovering parse under arbitrary bytes, as text and as a file: it
// ends; its first error is the one the ordinary parse reports, and there is
// none when that parse succeeds; the errors stand in strictly increasing
// order inside the input, each with the line and column of its offset; the
// text it mends parses, and is the input with stretches blanked and `}` put
// in.
#include "parser/parser.hpp"

#include "expect.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

using namespace quarel;

namespace {

bool same(const ParseError& a, const ParseError& b) {
    return a.message == b.message && a.line == b.line && a.column == b.column &&
           a.offset == b.offset;
}

// Columns of the first line count from after a byte-order mark in a file.
void check(std::string_view source, bool file) {
    std::vector<ParseError> errors = syntax_errors(source, file);
    auto parsed = file ? parse_file(source) : parse(source);
    if (auto* first = std::get_if<ParseError>(&parsed))
        expect(!errors.empty() && same(errors.front(), *first),
               "the first error is not the ordinary parse's");
    else
        expect(errors.empty(), "errors in text that parses");
    const std::size_t line_one = file && source.starts_with(utf8_bom) ? utf8_bom.size() : 0;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const ParseError& error = errors[i];
        expect(error.offset <= source.size(), "an error beyond the input");
        expect(i == 0 || error.offset > errors[i - 1].offset, "errors out of order");
        std::string_view before = source.substr(0, error.offset);
        auto line_feeds =
            static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
        expect(error.line == 1 + line_feeds, "error line disagrees with its offset");
        std::size_t last = before.rfind('\n');
        std::uint64_t column =
            last == std::string_view::npos ? error.offset - line_one + 1 : error.offset - last;
        expect(error.column == column, "error column disagrees with its offset");
    }
    const MendedText mended = mended_text(source, file);
    auto reparsed = file ? parse_file(mended.text) : parse(mended.text);
    expect(std::holds_alternative<Body>(reparsed), "the mended text does not parse");
    // Taken out again, the runs put in leave the source with some bytes
    // blanked to spaces, never a line break.
    std::string kept;
    std::size_t from = 0;
    for (const auto& [at, length] : mended.inserted) {
        expect(at >= from && at + length <= mended.text.size(), "insertions out of order");
        expect(mended.text.find_first_not_of("}\n", at) >= at + length,
               "something other than `}` and line breaks put in");
        kept.append(mended.text, from, at - from);
        from = at + length;
    }
    kept.append(mended.text, from);
    expect(kept.size() == source.size(), "the mended text changed in length");
    for (std::size_t i = 0; i < kept.size(); ++i)
        expect(kept[i] == source[i] || (kept[i] == ' ' && source[i] != '\n' && source[i] != '\r'),
               "the mended text changed more than blanks");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view source(reinterpret_cast<const char*>(data), size);
    check(source, false);
    check(source, true);
    return 0;
}
