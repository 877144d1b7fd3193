#include "format/adopt.hpp"

#include "cst/trivia.hpp"
#include "parser/lexer.hpp"

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

// The length of the run at `at` of spaces (or, with `space` false, of
// anything else).
std::size_t run(std::string_view text, std::size_t at, bool space) noexcept {
    std::size_t end = at;
    while (end < text.size() && lex::is_trivia_space(text[end]) == space) ++end;
    return end - at;
}

// The changes from `old` to `now` at `offset`: each run of whitespace
// between the same words (formatting moves only the whitespace around the
// words of comments and expressions, which editors then keep in place), or
// the whole when the words differ.
void record(std::size_t offset, std::string_view old, std::string_view now,
            std::vector<TextChange>& changes) {
    const std::size_t before = changes.size();
    for (std::size_t i = 0, j = 0;;) {
        const std::size_t old_space = run(old, i, true), new_space = run(now, j, true);
        const std::string_view a = old.substr(i, old_space), b = now.substr(j, new_space);
        if (a != b) changes.push_back(smallest(offset + i, a, b));
        i += old_space;
        j += new_space;
        const std::size_t old_word = run(old, i, false), new_word = run(now, j, false);
        if (old.substr(i, old_word) != now.substr(j, new_word)) {
            changes.resize(before);
            changes.push_back(smallest(offset, old, now));
            return;
        }
        if (old_word == 0) return;
        i += old_word;
        j += new_word;
    }
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
            if (changes) record(offset, into.view(), from.view(), *changes);
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
