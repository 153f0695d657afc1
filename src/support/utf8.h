// The strict UTF-8 decoder every module shares. Header-only: the grid runs it
// over every non-ASCII cell it sorts, searches or saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velotag {

// The sequence at p (n > 0 bytes readable there): its code point, and in
// `length` its byte count, or 0 when the bytes are not well formed. Overlong
// forms, surrogates and values past U+10FFFF are refused: an overlong
// "C0 8A" read as a line break would slip a control character past every
// check made on the bytes.
inline std::uint32_t DecodeUtf8(const unsigned char* p, std::size_t n, std::size_t& length) {
  const std::uint32_t b = p[0];
  auto cont = [&](std::size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
    return i < n && p[i] >= lo && p[i] <= hi;
  };
  length = 0;
  if (b < 0x80) {
    length = 1;
    return b;
  }
  if (b >= 0xC2 && b < 0xE0 && cont(1)) {
    length = 2;
    return ((b & 0x1F) << 6) | (p[1] & 0x3F);
  }
  if (b >= 0xE0 && b < 0xF0 && cont(1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) &&
      cont(2)) {
    length = 3;
    return ((b & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F);
  }
  if (b >= 0xF0 && b < 0xF5 && cont(1, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF) &&
      cont(2) && cont(3)) {
    length = 4;
    return ((b & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F);
  }
  return 0;
}

// Whether `s` is well-formed UTF-8 and every non-ASCII code point in it
// passes `keep`; ASCII bytes are skipped without decoding, which is what
// makes the grid's checks on mostly-ASCII cells cheap.
template <typename Keep>
bool EveryNonAsciiUtf8(std::string_view s, Keep keep) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  for (std::size_t i = 0, length; i < n; i += length) {
    if (p[i] < 0x80) {
      length = 1;
      continue;
    }
    const std::uint32_t cp = DecodeUtf8(p + i, n - i, length);
    if (length == 0 || !keep(cp)) return false;
  }
  return true;
}

}  // namespace velotag
