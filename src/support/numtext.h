// Numbers read from text the way the original program's numeric conversions
// read them (years, track numbers, genre numbers typed by a user).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velotag {

// The leading number of a text: blanks (space, tab, line feed) are skipped
// wherever they occur, then an optional sign, digits, an optional decimal
// fraction and exponent, or a hexadecimal number after "&H" / octal after
// "&O"; any other character ends the number. No digits give 0.
double LeadingNumber(std::string_view text);

// Nearest integer, halves to the even neighbour, saturated to 32 bits.
std::int32_t RoundHalfEven(double value);

// LeadingNumber rounded to an integer: "2005" -> 2005, "12abc" -> 12, "x" -> 0.
std::int32_t LeadingInteger(std::string_view text);

// The value of a text that is a number as a whole (blanks around it allowed,
// an optional sign, digits with an optional fraction and exponent); nothing
// when the text holds anything else.
std::optional<double> ParseNumber(std::string_view text);

}  // namespace velotag
