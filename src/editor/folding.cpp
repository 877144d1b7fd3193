#include "editor/folding.hpp"

#include <optional>

namespace quarel {

template <class Sink> void FoldingJson::emit(Sink& sink) {
    JsonWriter json(sink);
    json.raw("[");
    bool first = true;
    const auto fold = [&](std::size_t start, std::size_t end, bool comment) {
        if (end <= start) return;
        json.raw(first ? "{\"startLine\":" : ",{\"startLine\":")
            .number(start)
            .raw(",\"endLine\":")
            .number(end)
            .raw(comment ? ",\"kind\":\"comment\"}" : "}");
        first = false;
    };
    const auto line_of = [&](std::size_t offset) {
        return lines_.position(moved_offset(offset, moves_)).line;
    };
    std::vector<std::size_t> opened; // lines of the brackets not yet closed
    std::optional<std::pair<std::size_t, std::size_t>> comments; // first and last line of a run
    std::optional<std::size_t> last_line;                        // of the last token
    for (const Token& token : tokens_) {
        const std::size_t line = line_of(token.offset);
        const char c = token.offset < printed_.size() ? printed_[token.offset] : '\0';
        if (token.kind == TokenKind::comment && (!last_line || line > *last_line)) {
            if (comments && comments->second + 1 == line) {
                comments->second = line;
            } else {
                if (comments) fold(comments->first, comments->second, true);
                comments.emplace(line, line);
            }
        } else if (token.kind == TokenKind::punctuation && token.length == 1) {
            if (c == '{' || c == '[') {
                opened.push_back(line);
            } else if ((c == '}' || c == ']') && !opened.empty()) {
                if (line > 0) fold(opened.back(), line - 1, false);
                opened.pop_back();
            }
        } else if (token.kind == TokenKind::string || token.kind == TokenKind::expr) {
            fold(line, line_of(token.offset + token.length), false);
        }
        last_line = line;
    }
    if (comments) fold(comments->first, comments->second, true);
    json.raw("]");
}

template void FoldingJson::emit(Measure&);
template void FoldingJson::emit(Fill&);

} // namespace quarel
