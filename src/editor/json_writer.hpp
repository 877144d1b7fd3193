// JSON written for an editor straight from the engine's data, into a sink:
// one pass with `Measure` finds the size, a second with `Fill` writes into
// storage made at that size, so that tens of megabytes are neither grown
// nor copied.
#pragma once

#include "editor/positions.hpp"

#include <charconv>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace quarel {

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

// Measures and writes the JSON that `Json::emit(sink)` writes to either
// sink; a class derives from it and lets it call its emit.
template <class Json> class MeasuredJson {
  public:
    std::size_t size() {
        Measure measure;
        static_cast<Json&>(*this).emit(measure);
        return measure.size;
    }
    // Writes size() bytes at `out`.
    void write(char* out) {
        Fill fill{out};
        static_cast<Json&>(*this).emit(fill);
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
    // Every control character is escaped.
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

} // namespace quarel
