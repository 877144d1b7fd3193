#include "editor/symbols.hpp"

namespace quarel {

template <class Sink> void SymbolsJson::emit(Sink& sink) {
    JsonWriter json(sink);
    json.raw("[");
    std::size_t open_blocks = 0;
    bool first = true;
    std::size_t taken = 0;
    for (const OutlineEntry& entry : outline_.entries) {
        if (!cut_.keeps(entry.depth, taken)) continue;
        if (open_blocks > entry.depth) {
            for (; open_blocks > entry.depth; --open_blocks) json.raw("]}");
            first = false;
        }
        if (!first) json.raw(",");
        const std::size_t start = moved_offset(entry.start.offset, moves_);
        const EditorPosition at = lines_.position(start);
        EditorPosition key_end = lines_.position(start + entry.key.size);
        if (key_end.line != at.line) key_end = at;
        json.raw("{\"name\":\"").escaped(outline_.view(entry.key));
        if (entry.named) json.raw(" ").escaped(outline_.view(entry.name));
        json.raw("\",\"kind\":")
            .number(kinds_[entry.named ? kinds_.size() - 1 : static_cast<std::size_t>(entry.kind)])
            .raw(",\"range\":{\"start\":")
            .position(at)
            .raw(",\"end\":")
            .position(lines_.position(moved_offset(entry.end.offset, moves_)))
            .raw("},\"selectionRange\":{\"start\":")
            .position(at)
            .raw(",\"end\":")
            .position(key_end)
            .raw("}");
        if (entry.kind == Kind::block) {
            json.raw(",\"children\":[");
            ++open_blocks;
            first = true;
        } else {
            json.raw(",\"detail\":\"").escaped(outline_.view(entry.preview)).raw("\"}");
            first = false;
        }
    }
    for (; open_blocks > 0; --open_blocks) json.raw("]}");
    json.raw("]");
}

template void SymbolsJson::emit(Measure&);
template void SymbolsJson::emit(Fill&);

} // namespace quarel
