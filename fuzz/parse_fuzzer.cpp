// Parser, printer and scanner under arbitrary bytes: every input either
// parses into a well-formed tree that prints back byte for byte (whatever
// size it is told to expect), or yields one syntax error whose position lies
// in the input and agrees with its line and column. Every input scans into
// regions that cover it; on one that parses, the strings, expressions and
// comments of the scan are those the tree holds, and the tree's tokens are
// the scan's regions less whitespace, each expression trimmed. Its
// symbols', semantic tokens' and folding ranges' JSON, in every encoding
// and through an edit, fill exactly the size measured for them.
#include "cst/printer.hpp"
#include "editor/folding.hpp"
#include "editor/semantic_tokens.hpp"
#include "editor/symbols.hpp"
#include "editor/tokens.hpp"
#include "parser/lexer.hpp"
#include "parser/parser.hpp"
#include "parser/scanner.hpp"

#include "expect.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The scan of any input: regions that follow each other from its first byte
// to its last, none empty but an expression.
std::vector<lex::Region> scan(std::string_view source) {
    std::vector<lex::Region> regions;
    std::size_t at = 0;
    lex::Scanner scanner(source);
    while (std::optional<lex::Region> region = scanner.next()) {
        expect(region->begin == at && region->end <= source.size(), "regions out of order");
        expect(region->end > at || region->kind == lex::RegionKind::expression, "empty region");
        at = region->end;
        regions.push_back(*region);
    }
    expect(at == source.size(), "the scan stops short of the end");
    return regions;
}

// The strings, expressions and comments a tree holds, where it prints them.
struct Held {
    std::vector<lex::Region> regions;
    std::size_t at = 0;

    void skip(std::size_t size) { at += size; }
    void add(lex::RegionKind kind, std::size_t size) {
        regions.push_back({kind, at, at + size});
        at += size;
    }
    // In trivia every `#` starts a comment that runs to a CR or an LF.
    void trivia(std::string_view text) {
        for (std::size_t i = 0; (i = text.find('#', i)) != std::string_view::npos;) {
            std::size_t end = std::min(text.find_first_of("\r\n", i), text.size());
            regions.push_back({lex::RegionKind::comment, at + i, at + end});
            i = end;
        }
        at += text.size();
    }

    void list_value(const ListValue& value) {
        if (auto* literal = std::get_if<Literal>(&value)) skip(literal->text.size());
        if (auto* string = std::get_if<String>(&value))
            add(lex::RegionKind::string, string->content.size() + 2);
        if (auto* pair = std::get_if<Boxed<ListPair>>(&value)) {
            skip((*pair)->key.size() + (*pair)->before_colon.size() + 1);
            trivia((*pair)->after_colon);
            list_value((*pair)->value);
        }
        if (auto* list = std::get_if<Boxed<List>>(&value)) this->list(**list);
    }

    void list(const List& list) {
        skip(1);
        for (const ListItem& item : list.items) {
            trivia(item.leading);
            list_value(item.value);
            if (item.before_comma) {
                trivia(*item.before_comma);
                skip(1);
            }
        }
        trivia(list.trailing);
        skip(1);
    }

    void body(const Body& body) {
        for (const PairRef& ref : body.pairs) {
            const Pair& pair = *ref;
            trivia(pair.leading);
            skip(pair.key.size() + pair.before_colon.size() + 1);
            if (const Expr* expr = expr_of(pair.value)) {
                std::size_t size = pair.after_colon.size() + expr->text.size();
                add(lex::RegionKind::expression, size + expr->trailing.size());
                skip(2);
                continue;
            }
            trivia(pair.after_colon);
            if (auto* literal = std::get_if<Literal>(&pair.value)) skip(literal->text.size());
            if (auto* string = std::get_if<String>(&pair.value))
                add(lex::RegionKind::string, string->content.size() + 2);
            if (const List* list = list_of(pair.value)) this->list(*list);
            if (const Block* block = block_of(pair.value)) {
                if (block->name) skip(block->name->size());
                trivia(block->before_brace);
                skip(1);
                this->body(block->body);
                skip(1);
            }
        }
        trivia(body.trailing);
    }
};

void check_held(const Body& body, const std::vector<lex::Region>& scanned) {
    Held held;
    held.body(body);
    std::vector<lex::Region> kept;
    for (const lex::Region& region : scanned)
        if (region.kind == lex::RegionKind::string || region.kind == lex::RegionKind::expression ||
            region.kind == lex::RegionKind::comment)
            kept.push_back(region);
    expect(kept == held.regions, "the scan's strings, expressions or comments are not the tree's");
}

// A token's kind as the scan names its region.
lex::RegionKind region_kind(TokenKind kind) {
    switch (kind) {
    case TokenKind::string: return lex::RegionKind::string;
    case TokenKind::expr: return lex::RegionKind::expression;
    case TokenKind::comment: return lex::RegionKind::comment;
    case TokenKind::punctuation: return lex::RegionKind::punctuation;
    default: return lex::RegionKind::bare_token;
    }
}

void check_tokens(const Body& body, std::string_view source,
                  const std::vector<lex::Region>& scanned) {
    std::vector<lex::Region> expected;
    for (lex::Region region : scanned) {
        if (region.kind == lex::RegionKind::whitespace ||
            region.kind == lex::RegionKind::line_break)
            continue;
        if (region.kind == lex::RegionKind::expression) {
            std::string_view text = source.substr(region.begin, region.end - region.begin);
            std::string_view trimmed = lex::trim_whitespace(text);
            if (trimmed.empty()) continue;
            region.begin += static_cast<std::size_t>(trimmed.data() - text.data());
            region.end = region.begin + trimmed.size();
        }
        expected.push_back(region);
    }
    std::vector<Token> tokens;
    expect(tokens_of(body, tokens), "tokens met a locked pair");
    std::vector<lex::Region> got;
    for (const Token& token : tokens)
        got.push_back({region_kind(token.kind), token.offset, token.offset + token.length});
    expect(got == expected, "the tokens are not the scan's regions");
}

// Scans of text the parser refuses, pinned: each region as its kind's letter
// and its length.
constexpr std::pair<std::string_view, std::string_view> pinned_scans[] = {
    {"a: \"x", "b1 p1 w1 s2"},                 // unterminated string
    {"a: \"x\\", "b1 p1 w1 s3"},               // ... ended by a backslash
    {"a: b }}", "b1 p1 w1 b1 w1 p1 p1"},       // stray braces
    {"sql: a # b", "b3 p1 e6"},                // no `;;`
    {"sql:", "b3 p1 e0"},                      // nothing after the colon
    {"sql : \"a;;\" ;;", "b3 w1 p1 e3 p2 s4"}, // a quote in an expression
    {"# \"q\" [\nb", "c7 n1 b1"},              // quotes in a comment
    {"#a\rb", "c2 w1 b1"},                     // a comment before a lone CR
    {"x;;;\r\n\v\u00a0y", "b1 p2 p1 n2 w3 b1"},
    {"[sql: x ;;] sql:;;", "p1 b3 p1 w1 b1 w1 p2 p1 w1 b3 p1 e0 p2"},
};

void check_pinned_scans() {
    constexpr std::string_view letters = "secwnpb"; // in the order of RegionKind
    for (auto [source, expected] : pinned_scans) {
        std::string got;
        for (const lex::Region& region : scan(source)) {
            if (!got.empty()) got += ' ';
            got += letters[static_cast<std::size_t>(region.kind)];
            got += std::to_string(region.end - region.begin);
        }
        if (got != expected) {
            std::fprintf(stderr, "scan of \"%.*s\": %s\n", static_cast<int>(source.size()),
                         source.data(), got.c_str());
            fail("a pinned scan differs");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    check_pinned_scans();
    return 0;
}

// The writer escapes every control character, so a zero byte left in the
// output is one it did not write.
template <class Json> void check_measured(Json& json) {
    std::string out(json.size() + 1, '\0');
    json.write(out.data());
    expect(out.find('\0') == out.size() - 1, "editor JSON is not the size measured");
}

void check_editor_json(const Body& body, std::string_view source) {
    const std::optional<Outline> outline = outline_of(body);
    expect(outline.has_value(), "the outline met a locked pair");
    std::vector<Token> tokens;
    expect(tokens_of(body, tokens), "tokens met a locked pair");
    const TextMove moves[] = {{source.size() / 3, source.size() / 2, 1}};
    for (PositionEncoding encoding :
         {PositionEncoding::utf8, PositionEncoding::utf16, PositionEncoding::utf32}) {
        for (std::span<const TextMove> moved :
             {std::span<const TextMove>{}, std::span<const TextMove>(moves)}) {
            EditorLines lines(source, encoding);
            // Cut to a few symbols and folds with the edit, as a large document's are.
            const std::size_t limit = moved.empty() ? SIZE_MAX : 3;
            SymbolsJson symbols(*outline, lines, moved, {1, 2, 3, 4, 5, 6}, limit);
            check_measured(symbols);
            SemanticTokensJson all(tokens, lines, moved, std::nullopt);
            check_measured(all);
            SemanticTokensJson within(tokens, lines, moved,
                                      std::pair{source.size() / 4, source.size() / 2});
            check_measured(within);
            FoldingJson folds(tokens, source, lines, moved, limit);
            check_measured(folds);
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view source(reinterpret_cast<const char*>(data), size);
    std::vector<lex::Region> scanned = scan(source);
    auto result = parse(source);
    if (auto* error = std::get_if<ParseError>(&result)) {
        check_error(source, *error);
        return 0;
    }
    const Body& body = std::get<Body>(result);
    check_body(body);
    check_held(body, scanned);
    check_tokens(body, source, scanned);
    check_editor_json(body, source);
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
