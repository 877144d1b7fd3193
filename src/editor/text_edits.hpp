// Formatting as an editor applies it: the changes of the text that the
// formatter made (format/adopt.hpp) as the language server protocol's list
// of TextEdit, each a range of the text before and its new text. Written
// here from the whitespace runs the formatter knows it changed: compared
// word by word and built as objects in Python, a large untidy document's
// hundreds of thousands of edits took seconds.
#pragma once

#include "editor/json_writer.hpp"
#include "editor/positions.hpp"
#include "format/adopt.hpp"

#include <vector>

namespace quarel {

// `lines` are those of the text the changes were made in. Measured before
// it is written, as SymbolsJson is.
class TextEditsJson : public MeasuredJson<TextEditsJson> {
  public:
    TextEditsJson(const std::vector<TextChange>& changes, EditorLines& lines)
        : changes_(changes), lines_(lines) {}

  private:
    friend MeasuredJson<TextEditsJson>;
    template <class Sink> void emit(Sink& sink);

    const std::vector<TextChange>& changes_;
    EditorLines& lines_;
};

} // namespace quarel
