// Folding ranges as an editor takes them, from the tokens: a bracketed
// value folds up to the line before its closing bracket, which stays in
// sight; a string or an expression over several lines folds through its
// last line; a run of comment lines (comments that stand alone on their
// lines) folds as kind "comment". Lines are the editor's.
#pragma once

#include "editor/depth_cut.hpp"
#include "editor/json_writer.hpp"
#include "editor/positions.hpp"
#include "editor/tokens.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace quarel {

struct Fold {
    std::size_t start_line;
    std::size_t end_line;
    bool comment;
    std::size_t depth; // how many brackets hold it
};

// The JSON list of FoldingRange. `printed` is the text the tokens were
// made from, which tells the brackets apart; `moves` carries its offsets
// into the text of `lines`. At most `limit` ranges, the outermost
// (DepthCut).
//
// Measured before it is written, as SymbolsJson is.
class FoldingJson : public MeasuredJson<FoldingJson> {
  public:
    FoldingJson(const std::vector<Token>& tokens, std::string_view printed, EditorLines& lines,
                std::span<const TextMove> moves, std::size_t limit);

  private:
    friend MeasuredJson<FoldingJson>;
    template <class Sink> void emit(Sink& sink);

    std::vector<Fold> folds_;
    DepthCut cut_;
};

} // namespace quarel
