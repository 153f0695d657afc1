#include "support/numtext.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace velotag {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Locale-independent: a window's locale may use "," as its decimal mark.
double ToDouble(std::string_view t) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double v = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range)
    return (!t.empty() && t[0] == '-') ? -std::numeric_limits<double>::infinity()
                                       : std::numeric_limits<double>::infinity();
  return ec == std::errc() ? v : 0.0;
}
}  // namespace

double LeadingNumber(std::string_view text) {
  std::string t;
  t.reserve(text.size());
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n') t.push_back(c);
  std::size_t i = 0;
  if (t.size() >= 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h' || t[1] == 'O' || t[1] == 'o')) {
    bool hex = t[1] == 'H' || t[1] == 'h';
    double v = 0;
    for (i = 2; i < t.size(); ++i) {
      int d = -1;
      char c = t[i];
      if (IsDigit(c)) d = c - '0';
      else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0 || (!hex && d > 7)) break;
      v = v * (hex ? 16 : 8) + d;
    }
    return v;
  }
  std::string number;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) number.push_back(t[i++]);
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) number.push_back(t[i++]), ++digits;
  if (i < t.size() && t[i] == '.') {
    number.push_back(t[i++]);
    while (i < t.size() && IsDigit(t[i])) number.push_back(t[i++]), ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) exponent.push_back(t[j++]);
    std::size_t expDigits = 0;
    while (j < t.size() && IsDigit(t[j])) exponent.push_back(t[j++]), ++expDigits;
    if (expDigits > 0) number += exponent;
  }
  return ToDouble(number);
}

std::int32_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  double r = std::nearbyint(value);  // the default rounding mode is to nearest, ties to even
  if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

std::int32_t LeadingInteger(std::string_view text) { return RoundHalfEven(LeadingNumber(text)); }

std::optional<double> ParseNumber(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string_view t = text.substr(b, e - b);
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < t.size() && IsDigit(t[j])) ++j, ++expDigits;
    if (expDigits == 0) return std::nullopt;
    i = j;
  }
  if (i != t.size()) return std::nullopt;
  return ToDouble(t);
}

}  // namespace velotag
