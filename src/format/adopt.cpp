#include "format/adopt.hpp"

#include "cst/trivia.hpp"

#include <algorithm>
#include <string_view>

namespace quarel {

namespace {

// Whether a stretch may begin or end at `at`: not inside a character, nor
// between the CR and the LF of a line break.
bool boundary(std::string_view text, std::size_t at) noexcept {
    if (at == 0 || at >= text.size()) return true;
    return (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 &&
           !(text[at - 1] == '\r' && text[at] == '\n');
}

// The change from `old` to `now` at `offset`, without what they share at
// either end.
TextChange smallest(std::size_t offset, std::string_view old, std::string_view now) {
    std::size_t head = 0;
    const std::size_t shorter = std::min(old.size(), now.size());
    while (head < shorter && old[head] == now[head]) ++head;
    while (head > 0 && !(boundary(old, head) && boundary(now, head))) --head;
    std::size_t tail = 0;
    while (tail < shorter - head && old[old.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    while (tail > 0 && !(boundary(old, old.size() - tail) && boundary(now, now.size() - tail)))
        --tail;
    return {offset + head, offset + old.size() - tail,
            std::string(now.substr(head, now.size() - head - tail))};
}

// Walks both trees in step, counting the document's offsets as it goes.
struct Adopt {
    std::vector<TextChange>* changes;
    std::size_t offset = 0;
    bool changed = false;

    void token(std::string_view text) { offset += text.size(); }
    void slot(Slot, Text& into, Text& from) {
        const std::size_t size = into.size();
        if (into != from) {
            changed = true;
            if (changes) changes->push_back(smallest(offset, into.view(), from.view()));
            into = std::move(from);
        }
        offset += size;
    }
};

} // namespace

bool adopt_layout(Body& document, Body& formatted, std::vector<TextChange>* changes) {
    Adopt adopt{changes};
    visit_trivia(adopt, document, formatted);
    return adopt.changed;
}

} // namespace quarel
