// The lossless syntax tree of a Quarel file.
//
// Whitespace and comments are not nodes: they are kept verbatim in the text
// field of the syntax they precede (or in a `trailing` field at the end of a
// body or list). The printer writes the fields back in order with the
// punctuation the tree does not store, so an unedited tree prints its source.
#pragma once

#include "cst/shared.hpp"
#include "cst/text.hpp"

#include <memory>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace quarel {

// A uniquely owned T that copies deeply.
template <class T> class Boxed {
  public:
    explicit Boxed(T value) : ptr_(std::make_unique<T>(std::move(value))) {}
    Boxed(const Boxed& other) : ptr_(std::make_unique<T>(*other.ptr_)) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(const Boxed& other) { return *this = Boxed(other); }
    Boxed& operator=(Boxed&&) noexcept = default;
    T& operator*() const noexcept { return *ptr_; }
    T* operator->() const noexcept { return ptr_.get(); }

  private:
    std::unique_ptr<T> ptr_;
};

struct Pair;
using PairRef = Shared<Pair>;

struct Body {
    Body() = default;
    Body(Body&&) noexcept = default;
    Body& operator=(Body&&) noexcept = default;
    // Copying a body copies its pairs into new handles: a copy never shares
    // a pair with its original.
    Body(const Body& other);
    Body& operator=(const Body& other) { return *this = Body(other); }

    std::vector<PairRef> pairs;
    Text trailing;
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
    std::optional<Text> name;
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
    std::optional<Text> before_comma; // present exactly when a comma follows
};
struct List {
    std::vector<ListItem> items;
    Text trailing;
};

// Variant order is the kind order: literal, string, expr, list, block.
using Value = std::variant<Literal, String, Expr, Boxed<List>, Boxed<Block>>;

enum class Kind { literal, string, expr, list, block };
inline Kind kind_of(const Value& v) noexcept {
    return static_cast<Kind>(v.index());
}
std::string_view kind_name(Kind kind) noexcept;

struct Pair {
    Text leading;
    Text key;
    Text before_colon;
    Text after_colon;
    Value value;
};

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
