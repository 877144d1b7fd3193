// How a value reads as plain data (dict, list, str, int, float, bool), and
// what the types a schema accepts at its place make of it.
//
// Without a schema every literal is text. With one, a literal becomes a
// number or a boolean only where the schema accepts no string but accepts
// that type, so that text a schema means as text is never changed.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarel {

// What a literal's text could stand for: JSON number syntax without a
// fraction or exponent whose value fits a signed 64-bit integer (integer);
// other JSON number syntax whose value a double holds (number); `yes` or
// `true`, `no` or `false` (yes, no); anything else is text.
enum class Reading : std::uint8_t { text, integer, number, yes, no };

struct LiteralReading {
    Reading reading = Reading::text;
    std::int64_t integer = 0;
    double number = 0;
};
LiteralReading read_literal(std::string_view text) noexcept;

// The JSON types a schema accepts at a place, as bits. `integer` alone
// accepts whole numbers; `number` accepts every number.
enum Accepts : unsigned {
    accepts_string = 1,
    accepts_integer = 2,
    accepts_number = 4,
    accepts_boolean = 8,
    accepts_array = 16,
    accepts_object = 32,
    accepts_anything = 63,
};

// The plain type of a value.
enum class Plain : std::uint8_t { string, integer, number, boolean, array, object };

// What a literal reads as at a place that accepts `accepts`.
Plain literal_as(Reading reading, unsigned accepts) noexcept;

// Whether the one value of a key, of type `plain`, is wrapped in a list of
// one: where the place accepts a list but not that type.
bool wraps(Plain plain, unsigned accepts) noexcept;

// What an empty list reads as: a list, or an empty dict (a list of no
// pairs) where the place accepts a dict but no list.
Plain empty_list_as(unsigned accepts) noexcept;

} // namespace quarel
