// Parser and printer under arbitrary bytes: every input either parses into a
// well-formed tree that prints back byte for byte (whatever size it is told
// to expect), or yields one syntax error whose position lies in the input
// and agrees with its line and column.
#include "cst/printer.hpp"
#include "parser/lexer.hpp"
#include "parser/parser.hpp"

#include "expect.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quarel;

namespace {

bool is_trivia(std::string_view text) {
    return lex::skip_trivia(text.data(), text.data() + text.size()) == text.data() + text.size();
}

bool is_inline_space(std::string_view text) {
    return std::all_of(text.begin(), text.end(), lex::is_inline_space);
}

// The field contents that the grammar guarantees; the editing engine relies
// on them when it copies spacing from parsed pairs.
void check_list_value(const ListValue& value);

void check_list(const List& list) {
    for (const ListItem& item : list.items) {
        expect(is_trivia(item.leading), "list item leading is not trivia");
        expect(!item.before_comma || is_trivia(*item.before_comma), "before_comma is not trivia");
        check_list_value(item.value);
    }
    expect(is_trivia(list.trailing), "list trailing is not trivia");
}

void check_list_value(const ListValue& value) {
    if (auto* literal = std::get_if<Literal>(&value))
        expect(lex::is_bare_token(literal->text), "list literal is not a bare token");
    if (auto* pair = std::get_if<Boxed<ListPair>>(&value)) {
        expect(lex::is_bare_token((*pair)->key), "list pair key is not a bare token");
        expect(is_inline_space((*pair)->before_colon), "list pair before_colon");
        expect(is_trivia((*pair)->after_colon), "list pair after_colon is not trivia");
        check_list_value((*pair)->value);
    }
    if (auto* list = std::get_if<Boxed<List>>(&value)) check_list(**list);
}

void check_body(const Body& body) {
    for (const PairRef& ref : body.pairs) {
        const Pair& pair = *ref;
        expect(is_trivia(pair.leading), "leading is not trivia");
        expect(lex::is_bare_token(pair.key), "key is not a bare token");
        expect(is_inline_space(pair.before_colon), "before_colon is not inline space");
        if (const Expr* expr = expr_of(pair.value)) {
            expect(lex::is_expr_key(pair.key), "expression under an ordinary key");
            expect(lex::is_all_whitespace(pair.after_colon), "expression after_colon");
            expect(lex::is_all_whitespace(expr->trailing), "expression trailing");
            expect(lex::trim_whitespace(expr->text) == expr->text.view(), "expression not trimmed");
            expect(expr->text.view().find(";;") == std::string_view::npos, "expression holds ;;");
            continue;
        }
        expect(!lex::is_expr_key(pair.key), "expression key without an expression");
        expect(is_trivia(pair.after_colon), "after_colon is not trivia");
        if (auto* literal = std::get_if<Literal>(&pair.value))
            expect(lex::is_bare_token(literal->text), "literal is not a bare token");
        if (const List* list = list_of(pair.value)) check_list(*list);
        if (const Block* block = block_of(pair.value)) {
            expect(!block->name || lex::is_bare_token(*block->name), "block name");
            expect(block->name || block->before_brace.empty(), "before_brace without a name");
            expect(is_trivia(block->before_brace), "before_brace is not trivia");
            check_body(block->body);
        }
    }
    expect(is_trivia(body.trailing), "body trailing is not trivia");
}

constexpr std::array<std::string_view, 9> messages = {
    "expected `:` after key",
    "expression is missing its `;;` terminator",
    "expected a value",
    "unterminated string",
    "expected `}` or a `key:` pair",
    "expected a list element",
    "expected `,` or `]` in list",
    "expected a `key:` pair",
    "nesting deeper than 256 levels",
};

void check_error(std::string_view source, const ParseError& error) {
    expect(std::find(messages.begin(), messages.end(), error.message) != messages.end(),
           "unknown syntax error message");
    expect(error.offset <= source.size(), "error offset beyond the input");
    std::string_view before = source.substr(0, error.offset);
    auto line_feeds = static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
    expect(error.line == 1 + line_feeds, "error line disagrees with its offset");
    std::size_t last = before.rfind('\n');
    std::uint64_t column = last == std::string_view::npos ? error.offset + 1 : error.offset - last;
    expect(error.column == column, "error column disagrees with its offset");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view source(reinterpret_cast<const char*>(data), size);
    auto result = parse(source);
    if (auto* error = std::get_if<ParseError>(&result)) {
        check_error(source, *error);
        return 0;
    }
    const Body& body = std::get<Body>(result);
    check_body(body);
    std::string printed;
    expect(print_body(body, printed), "printing met a locked pair");
    expect(printed == source, "printed text differs from the source");
    // A size given for the text that is wrong is found out, and counted.
    std::string into;
    auto printed_size = print_body_into(body, source.size() ^ 1, [&](std::size_t n) {
        into.assign(n, '\0');
        return into.data();
    });
    expect(printed_size == source.size() && into == source, "a wrong size given spoiled the print");
    return 0;
}
