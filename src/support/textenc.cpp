#include "support/textenc.h"

#include <iconv.h>
#include <utf8proc.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/utf8.h"

namespace velotag {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Appends the code units of CodePointToString's result.
void AppendCodePointUnits(std::u16string& out, std::uint32_t value) {
  std::uint32_t c = (value & ((1u << 21) - 1)) % 1114112u;
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
  }
}

// The lenient UTF-8 walk, producing UTF-16 code units. A byte that starts
// no well-formed sequence stands for its ISO-8859-1 character; a surrogate
// in three bytes (older writers encoded pairs so) is kept as its unit, so
// that a pair joins into its character.
std::u16string DecodeUtf8Units(const std::uint8_t* data, std::size_t size) {
  std::u16string out;
  out.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t b = data[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    std::size_t length;
    std::uint32_t value = DecodeUtf8(data + i, size - i, length);
    if (length == 0 && b == 0xED && size - i >= 3 && data[i + 1] >= 0xA0 &&
        data[i + 1] <= 0xBF && (data[i + 2] & 0xC0) == 0x80) {
      value = 0xD000u | ((data[i + 1] & 0x3Fu) << 6) | (data[i + 2] & 0x3Fu);
      length = 3;
    }
    if (length == 0) {
      out.push_back(b);
      ++i;
      continue;
    }
    AppendCodePointUnits(out, value);
    i += length;
  }
  return out;
}

}  // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      std::uint32_t lo = units[++i];
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
    } else {
      AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  return DecodeUtf8Units(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::string Utf16BytesToString(const Bytes& bytes, bool bigEndian, bool& hadMark) {
  hadMark = false;
  if (bytes.size() < 2) return {};
  std::size_t start = 0;
  if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
    bigEndian = true;
    hadMark = true;
    start = 2;
  } else if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bigEndian = false;
    hadMark = true;
    start = 2;
  }
  return DecodeUtf16(bytes.data() + start, bytes.size() - start, bigEndian);
}

std::string DecodeUtf16(const std::uint8_t* data, std::size_t size, bool bigEndian) {
  std::u16string units;
  units.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(bigEndian ? static_cast<char16_t>((data[i] << 8) | data[i + 1])
                              : static_cast<char16_t>((data[i + 1] << 8) | data[i]));
  }
  return Utf16ToUtf8(units);
}

std::string Utf8BytesToString(const std::uint8_t* data, std::size_t size) {
  return Utf16ToUtf8(DecodeUtf8Units(data, size));
}

std::string Utf8BytesToString(const Bytes& bytes, std::size_t start) {
  if (start >= bytes.size()) return {};
  return Utf8BytesToString(bytes.data() + start, bytes.size() - start);
}

std::int32_t StringToUtf8Bytes(std::string_view text, Bytes& bytes) {
  std::string valid = Utf16ToUtf8(Utf8ToUtf16(text));
  bytes.assign(valid.begin(), valid.end());
  return static_cast<std::int32_t>(bytes.size());
}

void SwapByteOrder(Bytes& bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
}

std::string CodePointToString(std::uint32_t codePoint) {
  std::u16string units;
  AppendCodePointUnits(units, codePoint);
  return Utf16ToUtf8(units);
}

std::uint16_t CharCodeW(std::string_view text) {
  if (text.empty()) return 0;
  std::u16string units = Utf8ToUtf16(text.substr(0, 4));
  return units.empty() ? 0 : static_cast<std::uint16_t>(units[0]);
}

std::string AnsiToString(const std::uint8_t* data, std::size_t size) {
  std::size_t ascii = 0;
  while (ascii < size && data[ascii] < 0x80) ++ascii;
  std::string out(reinterpret_cast<const char*>(data), ascii);
  if (ascii == size) return out;
  out.reserve(size + (size - ascii));
  for (std::size_t i = ascii; i < size; ++i) {
    std::uint8_t b = data[i];
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::string AnsiToString(const Bytes& bytes) { return AnsiToString(bytes.data(), bytes.size()); }

Bytes StringToAnsi(std::string_view text) {
  Bytes out;
  out.reserve(text.size());
  for (std::uint32_t cp : Utf8CodePoints(text)) out.push_back(cp <= 0xFF ? cp : '?');
  return out;
}

std::string Utf8CutToBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

std::vector<std::uint32_t> Utf8CodePoints(std::string_view text) {
  std::u16string units = Utf8ToUtf16(text);
  std::vector<std::uint32_t> out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00));
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Utf8Left(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == count) return std::string(text.substr(0, i));
      ++seen;
    }
  }
  return std::string(text);
}

std::string ToOemCentralEuropean(std::string_view text) {
  if (text.empty()) return {};
  iconv_t cd = iconv_open("CP852", "UTF-32LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
  std::string out;
  for (std::uint32_t cp : Utf8CodePoints(text)) {
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>(cp >> 24)};
    char buf[8];
    char* inp = in;
    char* outp = buf;
    std::size_t inLeft = sizeof in, outLeft = sizeof buf;
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) ||
        outp == buf) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      out.push_back('?');  // what the system conversion gives for an unmapped character
      continue;
    }
    for (char* p = buf; p < outp; ++p) AppendUtf8(out, static_cast<unsigned char>(*p));
  }
  return out;
}

std::string CaseFold(std::string_view text) {
  utf8proc_uint8_t* folded = nullptr;
  utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                    static_cast<utf8proc_ssize_t>(text.size()), &folded,
                                    static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD |
                                                                   UTF8PROC_STABLE |
                                                                   UTF8PROC_COMPOSE));
  if (n < 0) {
    // Not valid UTF-8 (a raw file name, say): fold through the lenient reading.
    std::string valid = Utf8BytesToString(reinterpret_cast<const std::uint8_t*>(text.data()),
                                          text.size());
    if (valid == text) return std::string(text);
    return CaseFold(valid);
  }
  std::string out(reinterpret_cast<char*>(folded), static_cast<std::size_t>(n));
  std::free(folded);
  return out;
}

bool TextEquals(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return CaseFold(a) == CaseFold(b);
}

}  // namespace velotag
