// Text encodings: UTF-16 and UTF-8 byte arrays, the single-byte "ANSI" code
// page (ISO-8859-1 here), code page 852, and Unicode-aware comparison.
//
// Strings are UTF-8 std::string. Operations that are defined on UTF-16 code
// units (surrogate handling, CharCodeW) convert at that spot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velotag {

using Bytes = std::vector<std::uint8_t>;

// UTF-16 bytes in either order; a byte-order mark decides and is skipped,
// otherwise bigEndian does. A final odd byte is ignored; zero units stay.
std::string Utf16BytesToString(const Bytes& bytes, bool bigEndian, bool& hadMark);
// UTF-16 code units in the given order, no mark looked for.
std::string DecodeUtf16(const std::uint8_t* data, std::size_t size, bool bigEndian);
// Lenient: a byte that does not start a well-formed sequence becomes its
// ISO-8859-1 character. Surrogates encoded as three-byte sequences (as older
// writers produced them) are joined into their character.
std::string Utf8BytesToString(const Bytes& bytes, std::size_t start = 0);
std::string Utf8BytesToString(const std::uint8_t* data, std::size_t size);
// Always valid UTF-8: pairs become one four-byte sequence, a lone surrogate U+FFFD.
std::int32_t StringToUtf8Bytes(std::string_view text, Bytes& bytes);
void SwapByteOrder(Bytes& bytes);
std::string CodePointToString(std::uint32_t codePoint);
std::uint16_t CharCodeW(std::string_view text);
// The text in code page 852, each byte carried as the ISO-8859-1 character of
// that value, so that an ANSI write reproduces the code page 852 bytes.
std::string ToOemCentralEuropean(std::string_view text);

// UTF-8 <-> UTF-16 code units. Decoding is as lenient as Utf8BytesToString;
// encoding joins surrogate pairs and turns a lone surrogate into U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view units);
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// The system single-byte code page: ISO-8859-1, one byte per character. A
// character beyond U+00FF becomes "?".
std::string AnsiToString(const std::uint8_t* data, std::size_t size);
std::string AnsiToString(const Bytes& bytes);
Bytes StringToAnsi(std::string_view text);

// Code points, not bytes.
std::size_t Utf8Length(std::string_view text);
std::string Utf8Left(std::string_view text, std::size_t count);
// At most maxBytes bytes of text, cut at a character boundary.
std::string Utf8CutToBytes(std::string_view text, std::size_t maxBytes);
// Splits into code points as the lenient decoder reads them.
std::vector<std::uint32_t> Utf8CodePoints(std::string_view text);

// Case-insensitive ("text") comparison: Unicode case folding after
// composition, so that É, é and e + combining acute compare equal.
std::string CaseFold(std::string_view text);
bool TextEquals(std::string_view a, std::string_view b);

}  // namespace velotag
