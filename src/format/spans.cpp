#include "format/spans.hpp"

#include "cst/trivia.hpp"
#include "format/trivia_text.hpp"

#include <vector>

namespace quarel {

namespace {

struct Finder {
    PointerTable<bool>& spanning;
    std::vector<char> entered; // for each structure entered: whether it spans lines so far

    void open(const void*) { entered.push_back(false); }
    void slot(Slot slot, const Text& text) {
        if (slot == Slot::before_expression || slot == Slot::expression || slot == Slot::before_end)
            return;
        if (has_line_break(text.view())) entered.back() = true;
    }
    void close(const void* node) {
        const bool spans = entered.back();
        entered.pop_back();
        if (!spans) return;
        spanning.set(node, true);
        if (!entered.empty()) entered.back() = true;
    }
};

} // namespace

Spanning::Spanning(const Body& root) {
    visit_trivia(Finder{spanning_, {}}, root);
}

} // namespace quarel
