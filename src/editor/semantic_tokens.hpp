// The tokens as an editor's semantic tokens: the language server protocol's
// relative encoding, five numbers a token, a token over several lines cut
// into one a line, as editors take none across lines. Written here rather
// than in Python, where a large document's millions of numbers took
// seconds.
#pragma once

#include "editor/json_writer.hpp"
#include "editor/positions.hpp"
#include "editor/tokens.hpp"

#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quarel {

// The JSON of a SemanticTokens result, `{"data":[...]}`, each token's type
// the number of its TokenKind. The tokens' offsets are those of the text
// they were made from; `moves` carries them into the text of `lines`, and
// only the tokens that meet `within`, offsets of that text, are written
// when it is given. A token that an edit has emptied is left out.
//
// Measured before it is written, as SymbolsJson is.
class SemanticTokensJson : public MeasuredJson<SemanticTokensJson> {
  public:
    SemanticTokensJson(const std::vector<Token>& tokens, EditorLines& lines,
                       std::span<const TextMove> moves,
                       std::optional<std::pair<std::size_t, std::size_t>> within)
        : tokens_(tokens), lines_(lines), moves_(moves), within_(within) {}

  private:
    friend MeasuredJson<SemanticTokensJson>;
    template <class Sink> void emit(Sink& sink);

    const std::vector<Token>& tokens_;
    EditorLines& lines_;
    std::span<const TextMove> moves_;
    std::optional<std::pair<std::size_t, std::size_t>> within_;
};

} // namespace quarel
