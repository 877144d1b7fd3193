#include "editor/tokens.hpp"

#include "parser/lexer.hpp"

#include <cstring>

namespace quarel {

namespace {

// Walks the tree in print order, keeping the offset of the text it passes.
class Tokenizer {
  public:
    explicit Tokenizer(std::vector<Token>& out) : out_(out) {}

    bool body(const Body& body) {
        if (body.byte_order_mark) at_ += utf8_bom.size();
        return pairs(body);
    }

  private:
    void token(TokenKind kind, std::size_t length) {
        if (length) out_.push_back({at_, length, kind});
        at_ += length;
    }
    void punctuation(std::size_t length = 1) { token(TokenKind::punctuation, length); }

    // Whitespace and comments; most hold no `#` and are passed over whole.
    void trivia(std::string_view text) {
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const char* p = begin;
        while (const void* hash = std::memchr(p, '#', static_cast<std::size_t>(end - p))) {
            const char* comment = static_cast<const char*>(hash);
            p = lex::skip_comment(comment, end);
            out_.push_back({at_ + static_cast<std::size_t>(comment - begin),
                            static_cast<std::size_t>(p - comment), TokenKind::comment});
        }
        at_ += text.size();
    }

    bool pairs(const Body& body) {
        for (const PairRef& ref : body.pairs) {
            if (ref.lock().writing()) return false;
            const Pair& pair = *ref;
            trivia(pair.leading);
            token(TokenKind::key, pair.key.size());
            at_ += pair.before_colon.size();
            punctuation();
            if (!value(pair)) return false;
        }
        trivia(body.trailing);
        return true;
    }

    bool value(const Pair& pair) {
        if (const Expr* expr = expr_of(pair.value)) {
            at_ += pair.after_colon.size();
            token(TokenKind::expr, expr->text.size());
            at_ += expr->trailing.size();
            punctuation(2);
            return true;
        }
        trivia(pair.after_colon);
        if (const Block* block = block_of(pair.value)) {
            if (block->name) token(TokenKind::name, block->name->size());
            trivia(block->before_brace);
            punctuation();
            if (!pairs(block->body)) return false;
            punctuation();
            return true;
        }
        if (const List* list = list_of(pair.value)) {
            this->list(*list);
            return true;
        }
        scalar(pair.value);
        return true;
    }

    // A literal or a string, of a pair or in a list.
    template <class V> void scalar(const V& value) {
        if (auto* literal = std::get_if<Literal>(&value))
            token(TokenKind::literal, literal->text.size());
        else
            token(TokenKind::string, std::get<String>(value).content.size() + 2);
    }

    void list(const List& list) {
        punctuation();
        for (const ListItem& item : list.items) {
            trivia(item.leading);
            list_value(item.value);
            if (item.before_comma) {
                trivia(*item.before_comma);
                punctuation();
            }
        }
        trivia(list.trailing);
        punctuation();
    }

    void list_value(const ListValue& value) {
        if (auto* pair = std::get_if<Boxed<ListPair>>(&value)) {
            token(TokenKind::key, (*pair)->key.size());
            at_ += (*pair)->before_colon.size();
            punctuation();
            trivia((*pair)->after_colon);
            list_value((*pair)->value);
        } else if (auto* nested = std::get_if<Boxed<List>>(&value)) {
            list(**nested);
        } else {
            scalar(value);
        }
    }

    std::vector<Token>& out_;
    std::size_t at_ = 0;
};

} // namespace

bool tokens_of(const Body& body, std::vector<Token>& out) {
    return Tokenizer(out).body(body);
}

} // namespace quarel
