#include "edit/symbols.hpp"

#include <charconv>
#include <cstring>
#include <string_view>

namespace quarel {

namespace {

// Counts the bytes it is given.
struct Measure {
    std::size_t size = 0;
    void put(std::string_view text) noexcept { size += text.size(); }
};

// Copies them into storage measured for them.
struct Fill {
    char* at;
    void put(std::string_view text) noexcept {
        std::memcpy(at, text.data(), text.size());
        at += text.size();
    }
};

template <class Sink> class JsonWriter {
  public:
    explicit JsonWriter(Sink& sink) : sink_(sink) {}

    JsonWriter& raw(std::string_view text) {
        sink_.put(text);
        return *this;
    }

    JsonWriter& number(std::size_t value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        return raw({digits, static_cast<std::size_t>(end - digits)});
    }

    // The inside of a string; text that is not ASCII goes as it is, in UTF-8.
    JsonWriter& escaped(std::string_view text) {
        std::size_t done = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            raw(text.substr(done, i - done));
            done = i + 1;
            if (c == '"' || c == '\\') {
                const char pair[] = {'\\', static_cast<char>(c)};
                raw({pair, 2});
            } else {
                static constexpr char hex[] = "0123456789abcdef";
                const char code[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
                raw({code, 6});
            }
        }
        return raw(text.substr(done));
    }

    JsonWriter& position(EditorPosition at) {
        return raw("{\"line\":")
            .number(at.line)
            .raw(",\"character\":")
            .number(at.character)
            .raw("}");
    }

  private:
    Sink& sink_;
};

} // namespace

template <class Sink> void SymbolsJson::emit(Sink& sink) {
    JsonWriter json(sink);
    json.raw("[");
    std::size_t open_blocks = 0;
    bool first = true;
    for (const OutlineEntry& entry : outline_.entries) {
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

std::size_t SymbolsJson::size() {
    Measure measure;
    emit(measure);
    return measure.size;
}

void SymbolsJson::write(char* out) {
    Fill fill{out};
    emit(fill);
}

} // namespace quarel
