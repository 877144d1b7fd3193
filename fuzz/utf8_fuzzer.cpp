// The UTF-8 validator against a decoder written the long way: code point by
// code point, then checking the value's range, where the validator checks
// bytes.
#include "parser/utf8.hpp"

#include "expect.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

// The length of the valid sequence at text[i], or 0.
std::size_t decode(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    std::size_t n = c < 0x80    ? 1
                    : c >= 0xF8 ? 0
                    : c >= 0xF0 ? 4
                    : c >= 0xE0 ? 3
                    : c >= 0xC0 ? 2
                                : 0;
    if (n == 0 || i + n > text.size()) return 0;
    std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    constexpr std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t i = 0;
    while (i < size) {
        std::size_t n = decode(text, i);
        if (!n) break;
        i += n;
    }
    expect(quarel::invalid_utf8_at(text) == i, "validator and decoder disagree");
    return 0;
}
