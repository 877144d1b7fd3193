// Which lists and bodies of a tree stand on more than one line: those with
// a line break (LF, CR LF or a lone CR) in their trivia or in that of a
// structure inside them. The line breaks of strings and expressions are the
// user's text and do not count. Found in one walk, so that asking costs no
// walk of what a structure holds.
#pragma once

#include "cst/tree.hpp"
#include "format/pointer_table.hpp"

namespace quarel {

class Spanning {
  public:
    explicit Spanning(const Body& root);
    bool operator()(const List& list) const { return spanning_.find(&list) != nullptr; }
    bool operator()(const Body& body) const { return spanning_.find(&body) != nullptr; }

  private:
    PointerTable<bool> spanning_;
};

} // namespace quarel
