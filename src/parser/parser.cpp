// Recursive descent over the lexer's recognisers. Each rule advances `p` and
// returns true, or records the failure and returns false; the first failure
// ends the parse.
#include "parser/parser.hpp"

#include "parser/key_table.hpp"
#include "parser/lexer.hpp"
#include "parser/scratch.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace quarel {

namespace {

using namespace lex;

// Built from the limit, as every message that names it is.
const char* too_deep() {
    static const std::string message =
        "nesting deeper than " + std::to_string(max_depth) + " levels";
    return message.c_str();
}

class Parser {
  public:
    Parser(std::string_view source, int depth)
        : begin_(source.data()), end_(source.data() + source.size()), arena_(source.size()),
          depth_(depth) {}

    // A file may start with a byte-order mark; in a snippet it is text.
    std::variant<Body, ParseError> document(bool file) {
        Body root;
        const char* p = begin_;
        root.byte_order_mark =
            file &&
            std::string_view(begin_, static_cast<std::size_t>(end_ - begin_)).starts_with(utf8_bom);
        if (root.byte_order_mark) line_one_ = p += utf8_bom.size();
        if (!body(p, root)) return error();
        if (p != end_) {
            fail(p, "expected a `key:` pair");
            return error();
        }
        return root;
    }

  private:
    // Called for every text of a parse: inlined into each rule, which the
    // compiler would not do for all of them.
    [[gnu::always_inline]] Text text(const char* from, const char* to) {
        return Text::in_source(arena_, std::string_view(from, static_cast<std::size_t>(to - from)),
                               end_);
    }
    Text key_text(const char* from, const char* to) {
        if (to - from <= static_cast<std::ptrdiff_t>(Text::inline_capacity)) return text(from, to);
        return keys_.text(arena_, std::string_view(from, static_cast<std::size_t>(to - from)));
    }

    bool fail(const char* at, const char* message) {
        fail_at_ = at;
        fail_message_ = message;
        return false;
    }

    ParseError error() const {
        auto offset = static_cast<std::uint64_t>(fail_at_ - begin_);
        std::uint64_t line = 1 + static_cast<std::uint64_t>(std::count(begin_, fail_at_, '\n'));
        std::string_view before(begin_, offset);
        std::size_t last_lf = before.rfind('\n');
        std::uint64_t column = last_lf == std::string_view::npos
                                   ? static_cast<std::uint64_t>(fail_at_ - line_one_) + 1
                                   : offset - last_lf;
        return ParseError{fail_message_, line, column, offset};
    }

    bool enter(const char* at) { return ++depth_ <= max_depth || fail(at, too_deep()); }
    void leave() { --depth_; }

    // Children are gathered in a scratch per depth and moved out once the
    // count is known, into storage of that size from the arena.
    template <class T> static Scratch<T>& scratch(std::vector<Scratch<T>>& stack, int depth) {
        stack[depth].clear();
        return stack[depth];
    }
    template <class T> void take(Scratch<T>& from, ArenaVector<T>& to) { to = from.take(arena_); }

    bool body(const char*& p, Body& out) {
        Scratch<PairRef>& pairs = scratch(pair_scratch_, depth_);
        for (;;) {
            const char* key = skip_trivia(p, end_);
            if (key == end_ || !is_bare_char(key, end_)) {
                out.trailing = text(p, key);
                take(pairs, out.pairs);
                p = key;
                return true;
            }
            const char* key_end = skip_bare_token(key, end_);
            const char* colon = skip_inline_space(key_end, end_);
            if (colon == end_ || *colon != ':') return fail(colon, "expected `:` after key");
            PairRef pair = PairRef::make_in(arena_, text(p, key), key_text(key, key_end),
                                            text(key_end, colon), Text(), Literal{}, std::nullopt);
            p = colon + 1;
            bool ok = is_expr_key(std::string_view(key, static_cast<std::size_t>(key_end - key)))
                          ? expression(p, *pair)
                          : value(p, *pair);
            if (!ok) return false;
            pairs.emplace_back(std::move(pair));
        }
    }

    bool expression(const char*& p, Pair& pair) {
        std::string_view rest(p, static_cast<std::size_t>(end_ - p));
        std::size_t stop = rest.find(";;");
        if (stop == std::string_view::npos)
            return fail(p, "expression is missing its `;;` terminator");
        std::string_view raw = rest.substr(0, stop);
        std::string_view trimmed = trim_whitespace(raw);
        const char* text_end = trimmed.data() + trimmed.size();
        pair.after_colon = text(p, trimmed.data());
        boxed_in(pair.value, Expr{text(trimmed.data(), text_end), text(text_end, p + stop)});
        p += stop + 2;
        return true;
    }

    // Inlined into `body`, its one caller, which the compiler would not do.
    [[gnu::always_inline]] bool value(const char*& p, Pair& pair) {
        const char* v = skip_trivia(p, end_);
        pair.after_colon = text(p, v);
        p = v;
        if (v == end_) return fail(v, "expected a value");
        switch (*v) {
        case '"': {
            String s;
            if (!quoted(p, s.content)) return false;
            pair.value = std::move(s);
            return true;
        }
        case '[': return list(p, boxed_in(pair.value, List{}));
        case '{': return block(p, boxed_in(pair.value, Block{}));
        }
        if (!is_bare_char(v, end_)) return fail(v, "expected a value");
        const char* token_end = skip_bare_token(v, end_);
        const char* brace = skip_trivia(token_end, end_);
        if (brace != end_ && *brace == '{') {
            p = brace;
            return block(
                p, boxed_in(pair.value, Block{text(v, token_end), text(token_end, brace), Body()}));
        }
        pair.value = Literal{text(v, token_end)};
        p = token_end;
        return true;
    }

    // Nodes are made in place, in the arena, before their contents are read.
    template <class T, class V> T& boxed_in(V& value, T init) {
        return *value.template emplace<Boxed<T>>(arena_, std::move(init));
    }

    // At the `{` of a block.
    bool block(const char*& p, Block& b) {
        if (!enter(p)) return false;
        ++p;
        if (!body(p, b.body)) return false;
        if (p == end_ || *p != '}') return fail(p, "expected `}` or a `key:` pair");
        ++p;
        leave();
        return true;
    }

    bool quoted(const char*& p, Text& content) {
        const char* after = skip_quoted(p, end_);
        if (!after) return fail(p, "unterminated string");
        content = text(p + 1, after - 1);
        p = after;
        return true;
    }

    // At the `[` of a list.
    bool list(const char*& p, List& out) {
        if (!enter(p)) return false;
        Scratch<ListItem>& items = scratch(item_scratch_, depth_);
        ++p;
        for (;;) {
            const char* element_start = skip_trivia(p, end_);
            if (element_start != end_ && *element_start == ']') {
                out.trailing = text(p, element_start);
                take(items, out.items);
                p = element_start + 1;
                leave();
                return true;
            }
            // Nested lists gather their items one level deeper, so `item`
            // stays in place while its element is read.
            ListItem& item = items.emplace_back(text(p, element_start), Literal{}, std::nullopt);
            p = element_start;
            if (!element(p, item.value)) return false;
            const char* after = skip_trivia(p, end_);
            if (after != end_ && *after == ',') {
                item.before_comma = text(p, after);
                p = after + 1;
            } else if (after != end_ && *after == ']') {
                take(items, out.items);
                out.trailing = text(p, after);
                p = after + 1;
                leave();
                return true;
            } else {
                return fail(after, "expected `,` or `]` in list");
            }
        }
    }

    bool element(const char*& p, ListValue& out) {
        if (p == end_) return fail(p, "expected a list element");
        if (*p == '[') return list(p, boxed_in(out, List{}));
        if (*p == '"') {
            String s;
            if (!quoted(p, s.content)) return false;
            out = std::move(s);
            return true;
        }
        if (!is_bare_char(p, end_)) return fail(p, "expected a list element");
        const char* token_end = skip_bare_token(p, end_);
        const char* colon = skip_inline_space(token_end, end_);
        if (colon == end_ || *colon != ':') {
            out = Literal{text(p, token_end)};
            p = token_end;
            return true;
        }
        if (!enter(p)) return false;
        const char* nested = skip_trivia(colon + 1, end_);
        ListPair& pair = boxed_in(out, ListPair{key_text(p, token_end), text(token_end, colon),
                                                text(colon + 1, nested), Literal{}});
        p = nested;
        if (!element(p, pair.value)) return false;
        leave();
        return true;
    }

    const char* begin_;
    const char* end_;
    Arena arena_;
    KeyTable keys_;
    const char* fail_at_ = nullptr;
    const char* fail_message_ = "";
    // Where the columns of the first line count from: after a byte-order
    // mark, as an editor shows them.
    const char* line_one_ = begin_;
    int depth_;
    std::vector<Scratch<PairRef>> pair_scratch_ = std::vector<Scratch<PairRef>>(max_depth + 1);
    std::vector<Scratch<ListItem>> item_scratch_ = std::vector<Scratch<ListItem>>(max_depth + 1);
};

} // namespace

std::variant<Body, ParseError> parse(std::string_view source, int depth) {
    return Parser(source, depth).document(false);
}

std::variant<Body, ParseError> parse_file(std::string_view source) {
    return Parser(source, 0).document(true);
}

} // namespace quarel
