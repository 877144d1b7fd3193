// The lossless syntax tree of a Quarel file.
//
// Whitespace and comments are not nodes: they are kept verbatim in the text
// field of the syntax they precede (or in a `trailing` field at the end of a
// body or list). The printer writes the fields back in order with the
// punctuation the tree does not store, so an unedited tree prints its source.
#pragma once

#include "cst/arena_vector.hpp"
#include "cst/optional_text.hpp"
#include "cst/shared.hpp"
#include "cst/text.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <variant>

namespace quarel {

// A uniquely owned T that copies deeply. It lives on the heap, or, when the
// parser made it, in the parser's arena (arena.hpp tells the two apart).
template <class T> class Boxed {
  public:
    explicit Boxed(T value)
        : p_(construct_in<T>(Arena::heap_allocate(sizeof(T)), std::move(value))) {}
    Boxed(Arena& arena, T value)
        : p_(construct_in<T>(arena.allocate(sizeof(T)), std::move(value))) {}
    Boxed(const Boxed& other) : Boxed(T(*other)) {}
    Boxed(Boxed&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Boxed& operator=(const Boxed& other) { return *this = Boxed(other); }
    Boxed& operator=(Boxed&& other) noexcept {
        if (this != &other) {
            destroy();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~Boxed() { destroy(); }
    T& operator*() const noexcept { return *p_; }
    T* operator->() const noexcept { return p_; }

  private:
    void destroy() noexcept {
        if (!p_) return;
        p_->~T();
        Arena::release(p_);
    }
    T* p_;
};

struct Pair;
using PairRef = Shared<Pair>;

// U+FEFF in UTF-8: at the very start of a file it marks the encoding and is
// not part of the text.
inline constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// A body is never copied: its pairs are shared handles, and a copy would
// either share them with the original or have to take their locks.
struct Body {
    Body() = default;
    Body(Body&&) noexcept = default;
    Body& operator=(Body&&) noexcept = default;
    Body(const Body&) = delete;
    Body& operator=(const Body&) = delete;

    ArenaVector<PairRef> pairs;
    Text trailing;
    // Set on the root body of a file that starts with `utf8_bom`, which
    // prints before everything else.
    bool byte_order_mark = false;
};

struct Literal {
    Text text;
};
struct String {
    Text content; // raw, escapes kept as written
};
struct Expr {
    Text text;
    Text trailing; // whitespace before the `;;`
};
struct Block {
    OptionalText name;
    Text before_brace;
    Body body;
};

struct List;
struct ListPair;
using ListValue = std::variant<Literal, String, Boxed<ListPair>, Boxed<List>>;

struct ListPair {
    Text key;
    Text before_colon;
    Text after_colon;
    ListValue value;
};
struct ListItem {
    Text leading;
    ListValue value;
    OptionalText before_comma; // present exactly when a comma follows
};
struct List {
    ArenaVector<ListItem> items;
    Text trailing;
};

// Variant order is the kind order: literal, string, expr, list, block. An
// expression, two texts, is boxed so that a value is two words.
using Value = std::variant<Literal, String, Boxed<Expr>, Boxed<List>, Boxed<Block>>;

enum class Kind { literal, string, expr, list, block };
inline Kind kind_of(const Value& v) noexcept {
    return static_cast<Kind>(v.index());
}
// The kinds' names, in the order of Kind: what Pair.kind reports and `kind`
// arguments take. The binding hands this table to the Python package.
inline constexpr std::array<std::string_view, 5> kind_names = {"literal", "string", "expr", "list",
                                                               "block"};
static_assert(kind_names.size() == std::variant_size_v<Value>);
inline std::string_view kind_name(Kind kind) noexcept {
    return kind_names[static_cast<std::size_t>(kind)];
}

struct Pair {
    Text leading;
    Text key;
    Text before_colon;
    Text after_colon;
    Value value;
    // Set while the pair is out of every body, to the comment that ended its
    // line there (with the spaces before it; empty for none). In a body that
    // comment stands in the text after the pair, the next pair's leading or
    // the body's trailing, and this is absent.
    OptionalText loose_end;
};

inline Expr* expr_of(Value& v) noexcept {
    auto* e = std::get_if<Boxed<Expr>>(&v);
    return e ? &**e : nullptr;
}
inline const Expr* expr_of(const Value& v) noexcept {
    auto* e = std::get_if<Boxed<Expr>>(&v);
    return e ? &**e : nullptr;
}
inline Block* block_of(Value& v) noexcept {
    auto* b = std::get_if<Boxed<Block>>(&v);
    return b ? &**b : nullptr;
}
inline const Block* block_of(const Value& v) noexcept {
    auto* b = std::get_if<Boxed<Block>>(&v);
    return b ? &**b : nullptr;
}
inline List* list_of(Value& v) noexcept {
    auto* l = std::get_if<Boxed<List>>(&v);
    return l ? &**l : nullptr;
}
inline const List* list_of(const Value& v) noexcept {
    auto* l = std::get_if<Boxed<List>>(&v);
    return l ? &**l : nullptr;
}

} // namespace quarel
