#include "cst/tree.hpp"

namespace quarel {

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
