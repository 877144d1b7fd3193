// The outline as an editor's document symbols: the JSON of the language
// server protocol, block pairs holding the pairs inside them as children.
// Written here in one pass, as this answer grows with the document: a
// large one has hundreds of thousands of symbols.
#pragma once

#include "editor/depth_cut.hpp"
#include "editor/json_writer.hpp"
#include "editor/outline.hpp"
#include "editor/positions.hpp"

#include <array>
#include <cstddef>
#include <span>

namespace quarel {

// The protocol's number for each Kind, in its order, and last for a named
// block.
using SymbolKinds = std::array<std::size_t, 6>;

// The outline's offsets are those of the text it was made from; `moves`
// carries them into the text of `lines`, where they become positions.
//
// The JSON is measured before it is written, so that the caller can make
// the object that holds it at its size once: tens of megabytes written
// into a growing buffer and copied out again took longer than the walk.
class SymbolsJson : public MeasuredJson<SymbolsJson> {
  public:
    // At most `limit` symbols, the outermost (DepthCut).
    SymbolsJson(const Outline& outline, EditorLines& lines, std::span<const TextMove> moves,
                const SymbolKinds& kinds, std::size_t limit)
        : outline_(outline), lines_(lines), moves_(moves), kinds_(kinds),
          cut_(outline.entries, &OutlineEntry::depth, limit) {}

  private:
    friend MeasuredJson<SymbolsJson>;
    template <class Sink> void emit(Sink& sink);

    const Outline& outline_;
    EditorLines& lines_;
    std::span<const TextMove> moves_;
    SymbolKinds kinds_;
    DepthCut cut_;
};

} // namespace quarel
