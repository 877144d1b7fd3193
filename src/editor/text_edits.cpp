#include "editor/text_edits.hpp"

namespace quarel {

template <class Sink> void TextEditsJson::emit(Sink& sink) {
    JsonWriter json(sink);
    json.raw("[");
    bool first = true;
    for (const TextChange& change : changes_) {
        json.raw(first ? "{\"range\":{\"start\":" : ",{\"range\":{\"start\":")
            .position(lines_.position(change.start))
            .raw(",\"end\":")
            .position(lines_.position(change.end))
            .raw("},\"newText\":\"")
            .escaped(change.text)
            .raw("\"}");
        first = false;
    }
    json.raw("]");
}

template void TextEditsJson::emit(Measure&);
template void TextEditsJson::emit(Fill&);

} // namespace quarel
