// The grammar as a recursive descent over the lexer's recognisers. Each
// rule advances `p` and returns true, or records the failure and returns
// false; the first failure ends the parse.
//
// With `Recover` set the parser lists every error instead (syntax_errors.cpp
// tells how it goes on after one); the ordinary parse compiles without a
// trace of it. Each is made in a file of its own, so that neither changes
// what the compiler inlines into the other.
#pragma once

#include "parser/key_table.hpp"
#include "parser/lexer.hpp"
#include "parser/parser.hpp"
#include "parser/scanner.hpp"
#include "parser/scratch.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace quarel::grammar {

using namespace lex;

// Built from the limit, as every message that names it is.
inline const char* too_deep() {
    static const std::string message =
        "nesting deeper than " + std::to_string(max_depth) + " levels";
    return message.c_str();
}

template <bool Recover> class Parser {
  public:
    Parser(std::string_view source, int depth)
        : begin_(source.data()), end_(source.data() + source.size()), arena_(source.size()),
          depth_(depth) {}

    std::variant<Body, ParseError> document(bool file) {
        Body root;
        const char* p = start(file, root);
        if (!body(p, root)) return error();
        if (p != end_) {
            fail(p, "expected a `key:` pair");
            return error();
        }
        return root;
    }

    std::vector<ParseError> errors(bool file) {
        Body root;
        const char* p = start(file, root);
        body(p, root);
        return std::move(errors_);
    }

    // The text as the recovering parse reads it: every stretch it skipped
    // blanked out, line breaks kept, and a `}` put in wherever it closed a
    // block that had none (at the end of the text after a line break, which
    // ends a comment there), so that the ordinary parse reads the same pairs
    // at the same offsets, but for those put in.
    MendedText mended(bool file) {
        errors(file);
        std::string blanked(begin_, end_);
        for (const auto& [from, to] : skipped_)
            for (const char* c = from; c < to; ++c)
                if (*c != '\n' && *c != '\r') blanked[static_cast<std::size_t>(c - begin_)] = ' ';
        MendedText out;
        std::size_t copied = 0;
        for (std::size_t i = 0; i < closed_at_.size();) {
            const auto at = static_cast<std::size_t>(closed_at_[i] - begin_);
            std::size_t count = 0;
            for (; i < closed_at_.size() && closed_at_[i] == begin_ + at; ++i) ++count;
            out.text.append(blanked, copied, at - copied);
            copied = at;
            const std::string closers =
                (at == blanked.size() ? "\n" : "") + std::string(count, '}');
            out.inserted.emplace_back(out.text.size(), closers.size());
            out.text += closers;
        }
        out.text.append(blanked, copied);
        return out;
    }

  private:
    // A file may start with a byte-order mark; in a snippet it is text.
    const char* start(bool file, Body& root) {
        root.byte_order_mark =
            file &&
            std::string_view(begin_, static_cast<std::size_t>(end_ - begin_)).starts_with(utf8_bom);
        if (root.byte_order_mark) line_one_ = begin_ + utf8_bom.size();
        line_start_ = line_one_;
        return line_one_;
    }

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
        [[maybe_unused]] const int depth = depth_;
        for (;;) {
            const char* key = skip_trivia(p, end_);
            if (key == end_ || !is_bare_char(key, end_)) {
                if constexpr (Recover) {
                    if (key != end_ && (*key != '}' || header_ < 0)) {
                        fail(key, header_ < 0 ? "expected a `key:` pair"
                                              : "expected `}` or a `key:` pair");
                        if (recover(p, key, depth)) continue;
                        key = p;
                    }
                }
                out.trailing = text(p, key);
                take(pairs, out.pairs);
                p = key;
                return true;
            }
            const char* key_end = skip_bare_token(key, end_);
            const char* colon = skip_inline_space(key_end, end_);
            bool ok = colon != end_ && *colon == ':';
            if constexpr (!Recover) {
                if (!ok) return fail(colon, "expected `:` after key");
            } else if (!ok) {
                fail(colon, "expected `:` after key");
                if (recover(p, key, depth)) continue;
                return ends_early(pairs, out);
            }
            PairRef pair = PairRef::make_in(arena_, text(p, key), key_text(key, key_end),
                                            text(key_end, colon), Text(), Literal{}, std::nullopt);
            p = colon + 1;
            if constexpr (Recover) pair_key_ = key;
            ok = is_expr_key(std::string_view(key, static_cast<std::size_t>(key_end - key)))
                     ? expression(p, *pair)
                     : value(p, *pair);
            if constexpr (Recover) {
                if (ok) pairs.emplace_back(std::move(pair));
                // A block that recovery closed early may leave the line it
                // found to this body, or to one further out.
                if (ok ? !resume_ || resumes_here(p) : recover(p, key, depth)) continue;
                return ends_early(pairs, out);
            }
            if (!ok) return false;
            pairs.emplace_back(std::move(pair));
        }
    }

    // The recovering parse, after a failure inside this body (which was
    // `depth` deep) on the line of `failed_line`: records the error and
    // skips past it. Whether the body reads on from `p`, or ends and leaves
    // `resume_` to a block further out.
    bool recover(const char*& p, const char* failed_line, int depth) {
        depth_ = depth;
        const std::ptrdiff_t failed_indent = indent_of(failed_line);
        report();
        Scanner scanner(std::string_view(fail_at_, static_cast<std::size_t>(end_ - fail_at_)));
        while (std::optional<Region> region = scanner.next()) {
            if (region->kind != RegionKind::line_break) continue;
            const char* line = fail_at_ + region->end;
            const char* first = skip_inline_space(line, end_);
            const std::ptrdiff_t indent = first - line;
            if (first != end_ && *first == '}' && header_ >= 0 && indent < failed_indent) {
                skipped_.emplace_back(failed_line, line);
                p = line;
                return true;
            }
            if (indent <= failed_indent && starts_key(first)) {
                skipped_.emplace_back(failed_line, line);
                resume_ = line;
                resume_indent_ = indent;
                return resumes_here(p);
            }
        }
        skipped_.emplace_back(failed_line, end_);
        exhausted_ = true;
        p = end_;
        return true;
    }

    // A body that recovery leaves for a line further out keeps what it read.
    bool ends_early(Scratch<PairRef>& pairs, Body& out) {
        take(pairs, out.pairs);
        return true;
    }

    // Whether the key line that recovery found belongs in this body: in the
    // innermost block whose own line is indented less than it.
    bool resumes_here(const char*& p) {
        if (header_ >= resume_indent_) return false;
        p = resume_;
        resume_ = nullptr;
        return true;
    }

    bool starts_key(const char* at) const {
        if (at == end_ || !is_bare_char(at, end_)) return false;
        const char* colon = skip_inline_space(skip_bare_token(at, end_), end_);
        return colon != end_ && *colon == ':';
    }

    // The recovering parse asks for lines in text order, so they are
    // counted on from the last place asked about: a pass over the text
    // however many errors it holds.
    const char* line_start_of(const char* at) {
        for (const char* lf; (lf = static_cast<const char*>(std::memchr(
                                  counted_to_, '\n', static_cast<std::size_t>(at - counted_to_))));
             counted_to_ = line_start_ = lf + 1)
            ++line_;
        counted_to_ = at;
        return line_start_;
    }

    std::ptrdiff_t indent_of(const char* at) {
        const char* line = line_start_of(at);
        return skip_inline_space(line, end_) - line;
    }

    // Each error is kept once, in text order; none after a skip to the end.
    void report() {
        const auto offset = static_cast<std::uint64_t>(fail_at_ - begin_);
        if (exhausted_ || (!errors_.empty() && offset <= errors_.back().offset)) return;
        const char* line = line_start_of(fail_at_);
        errors_.push_back(ParseError{fail_message_, line_,
                                     static_cast<std::uint64_t>(fail_at_ - line) + 1, offset});
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
        if constexpr (Recover) {
            const std::ptrdiff_t outer = header_;
            header_ = indent_of(pair_key_);
            body(p, b.body);
            header_ = outer;
            if (!resume_ && p == end_) {
                fail(p, "expected `}` or a `key:` pair");
                report();
                closed_at_.push_back(end_);
            } else if (!resume_) {
                ++p;
            } else {
                closed_at_.push_back(resume_);
            }
            leave();
            return true;
        }
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

    // The recovering parse's own state.
    std::vector<ParseError> errors_;
    std::ptrdiff_t header_ = -1;     // indentation of the open block's line; -1 at the top
    const char* pair_key_ = nullptr; // of the pair being read
    const char* resume_ = nullptr;   // the line to read on from, once a body fits it
    std::ptrdiff_t resume_indent_ = 0;
    bool exhausted_ = false;                                   // a skip ran to the end of the text
    std::vector<std::pair<const char*, const char*>> skipped_; // stretches read past
    std::vector<const char*> closed_at_; // where a block with no `}` was closed
    const char* counted_to_ = begin_;
    const char* line_start_ = begin_;
    std::uint64_t line_ = 1;
};

} // namespace quarel::grammar
