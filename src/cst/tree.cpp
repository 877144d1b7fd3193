#include "cst/tree.hpp"

namespace quarel {

// Pairs are copied without their locks: copies are made only of trees that
// the copying operation alone can reach (a freshly parsed snippet).
Body::Body(const Body& other) : trailing(other.trailing), byte_order_mark(other.byte_order_mark) {
    pairs.reserve(other.pairs.size());
    for (const PairRef& p : other.pairs) pairs.push_back(PairRef::make(*p));
}

std::string_view kind_name(Kind kind) noexcept {
    switch (kind) {
    case Kind::literal: return "literal";
    case Kind::string: return "string";
    case Kind::expr: return "expr";
    case Kind::list: return "list";
    case Kind::block: return "block";
    }
    return "";
}

} // namespace quarel
