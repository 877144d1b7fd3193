#include "editor/semantic_tokens.hpp"

namespace quarel {

template <class Sink> void SemanticTokensJson::emit(Sink& sink) {
    JsonWriter json(sink);
    json.raw("{\"data\":[");
    EditorPosition last{0, 0};
    bool first = true;
    const auto piece = [&](EditorPosition at, std::size_t size, TokenKind kind) {
        if (!first) json.raw(",");
        first = false;
        json.number(at.line - last.line)
            .raw(",")
            .number(at.line == last.line ? at.character - last.character : at.character)
            .raw(",")
            .number(size)
            .raw(",")
            .number(static_cast<std::size_t>(kind))
            .raw(",0");
        last = at;
    };
    for (const Token& token : tokens_) {
        const std::size_t start = moved_offset(token.offset, moves_);
        const std::size_t end = moved_offset(token.offset + token.length, moves_);
        if (start >= end || (within_ && (end <= within_->first || start >= within_->second)))
            continue;
        EditorPosition at = lines_.position(start);
        const EditorPosition to = lines_.position(end);
        for (; at.line < to.line; at = {at.line + 1, 0}) {
            const std::size_t line_end = lines_.line_end(at.line).character;
            if (line_end > at.character) piece(at, line_end - at.character, token.kind);
        }
        if (to.character > at.character) piece(at, to.character - at.character, token.kind);
    }
    json.raw("]}");
}

template void SemanticTokensJson::emit(Measure&);
template void SemanticTokensJson::emit(Fill&);

} // namespace quarel
