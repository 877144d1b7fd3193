#include "editor/folding.hpp"

#include <optional>

namespace quarel {

FoldingJson::FoldingJson(const std::vector<Token>& tokens, std::string_view printed,
                         EditorLines& lines, std::span<const TextMove> moves, std::size_t limit) {
    std::vector<std::size_t> opened; // lines of the brackets not yet closed
    const auto fold = [&](std::size_t start, std::size_t end, bool comment, std::size_t depth) {
        if (end > start) folds_.push_back({start, end, comment, depth});
    };
    const auto line_of = [&](std::size_t offset) {
        return lines.position(moved_offset(offset, moves)).line;
    };
    // The first and last line of a run of comment lines, and its depth.
    std::optional<Fold> comments;
    std::optional<std::size_t> last_line; // of the last token
    for (const Token& token : tokens) {
        const std::size_t line = line_of(token.offset);
        const char c = token.offset < printed.size() ? printed[token.offset] : '\0';
        if (token.kind == TokenKind::comment && (!last_line || line > *last_line)) {
            if (comments && comments->end_line + 1 == line) {
                comments->end_line = line;
            } else {
                if (comments) fold(comments->start_line, comments->end_line, true, comments->depth);
                comments = Fold{line, line, true, opened.size()};
            }
        } else if (token.kind == TokenKind::punctuation && token.length == 1) {
            if (c == '{' || c == '[') {
                opened.push_back(line);
            } else if ((c == '}' || c == ']') && !opened.empty()) {
                if (line > 0) fold(opened.back(), line - 1, false, opened.size() - 1);
                opened.pop_back();
            }
        } else if (token.kind == TokenKind::string || token.kind == TokenKind::expr) {
            fold(line, line_of(token.offset + token.length), false, opened.size());
        }
        last_line = line;
    }
    if (comments) fold(comments->start_line, comments->end_line, true, comments->depth);
    cut_ = DepthCut(folds_, &Fold::depth, limit);
}

template <class Sink> void FoldingJson::emit(Sink& sink) {
    JsonWriter json(sink);
    json.raw("[");
    bool first = true;
    std::size_t taken = 0;
    for (const Fold& f : folds_) {
        if (!cut_.keeps(f.depth, taken)) continue;
        json.raw(first ? "{\"startLine\":" : ",{\"startLine\":")
            .number(f.start_line)
            .raw(",\"endLine\":")
            .number(f.end_line)
            .raw(f.comment ? ",\"kind\":\"comment\"}" : "}");
        first = false;
    }
    json.raw("]");
}

template void FoldingJson::emit(Measure&);
template void FoldingJson::emit(Fill&);

} // namespace quarel
