#include "schema/reading.hpp"

#include <charconv>
#include <cmath>

namespace quarel {

namespace {

bool digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// The length of a run of digits from `at`.
std::size_t digits(std::string_view text, std::size_t at) noexcept {
    std::size_t n = 0;
    while (at + n < text.size() && digit(text[at + n])) ++n;
    return n;
}

// Whether the text is a JSON number, -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?,
// and whether it has a fraction or an exponent.
bool json_number(std::string_view text, bool& whole) noexcept {
    std::size_t at = text.starts_with('-') ? 1 : 0;
    const std::size_t integral = digits(text, at);
    if (integral == 0 || (integral > 1 && text[at] == '0')) return false;
    at += integral;
    whole = true;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction = digits(text, at + 1);
        if (fraction == 0) return false;
        at += 1 + fraction;
        whole = false;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        const std::size_t exponent = digits(text, at);
        if (exponent == 0) return false;
        at += exponent;
        whole = false;
    }
    return at == text.size();
}

} // namespace

LiteralReading read_literal(std::string_view text) noexcept {
    LiteralReading out;
    if (text == "yes" || text == "true") {
        out.reading = Reading::yes;
        return out;
    }
    if (text == "no" || text == "false") {
        out.reading = Reading::no;
        return out;
    }
    bool whole = false;
    if (!json_number(text, whole)) return out;
    const char* const end = text.data() + text.size();
    if (whole) {
        auto [at, error] = std::from_chars(text.data(), end, out.integer);
        if (error == std::errc() && at == end) {
            out.reading = Reading::integer;
            return out;
        }
    }
    // A whole number past 64 bits reads as a double, as JSON readers do.
    auto [at, error] = std::from_chars(text.data(), end, out.number);
    if (error == std::errc() && at == end && std::isfinite(out.number))
        out.reading = Reading::number;
    return out;
}

Plain literal_as(Reading reading, unsigned accepts) noexcept {
    if (accepts & accepts_string) return Plain::string;
    switch (reading) {
    case Reading::integer:
        return accepts & (accepts_integer | accepts_number) ? Plain::integer : Plain::string;
    case Reading::number:
        // 1e3 is a whole number, which JSON Schema counts as an integer.
        return accepts & (accepts_integer | accepts_number) ? Plain::number : Plain::string;
    case Reading::yes:
    case Reading::no: return accepts & accepts_boolean ? Plain::boolean : Plain::string;
    case Reading::text: break;
    }
    return Plain::string;
}

namespace {

unsigned accepting(Plain plain) noexcept {
    switch (plain) {
    case Plain::string: return accepts_string;
    case Plain::integer: return accepts_integer | accepts_number;
    case Plain::number: return accepts_number | accepts_integer;
    case Plain::boolean: return accepts_boolean;
    case Plain::array: return accepts_array;
    case Plain::object: return accepts_object;
    }
    return 0;
}

} // namespace

bool wraps(Plain plain, unsigned accepts) noexcept {
    return plain != Plain::array && (accepts & accepts_array) && !(accepts & accepting(plain));
}

Plain empty_list_as(unsigned accepts) noexcept {
    return (accepts & accepts_object) && !(accepts & accepts_array) ? Plain::object : Plain::array;
}

} // namespace quarel
