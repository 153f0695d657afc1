// Text encodings, comparison, numbers in text and the INI store.
#include <gtest/gtest.h>

#include <tuple>

#include "support/ini.h"
#include "support/numtext.h"
#include "support/textenc.h"
#include "support/utf8.h"

namespace velotag {
namespace {

TEST(Utf16Bytes, MarksOrderAndOddBytes) {
  // Bytes, big-endian asked for, text, whether a mark was there.
  const std::tuple<Bytes, bool, std::string, bool> cases[] = {
      {{0xFF, 0xFE, 0x41, 0x00}, true, "A", true},
      {{0xFE, 0xFF, 0x00, 0x41}, false, "A", true},
      {{0x41, 0x00, 0x42}, false, "A", false},
      {{0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, false, std::string("A\0B", 3), false},
      {{0x3D, 0xD8, 0x00, 0xDE}, false, "\xF0\x9F\x98\x80", false},
      {{0x3D, 0xD8, 0x41, 0x00}, false, "\xEF\xBF\xBD" "A", false},  // lone surrogate
  };
  for (const auto& [bytes, bigEndian, text, hadMark] : cases) {
    bool mark = !hadMark;
    EXPECT_EQ(Utf16BytesToString(bytes, bigEndian, mark), text);
    EXPECT_EQ(mark, hadMark);
  }
}

// Reading is lenient; writing is always valid UTF-8: a pair is one four-byte
// sequence, never two three-byte halves, and a lone half becomes U+FFFD.
TEST(Utf8Bytes, LenientReadingValidWriting) {
  enum { kBoth, kRead, kWrite };
  const std::tuple<Bytes, std::string, int> cases[] = {
      {{0xC3, 0xA9}, "\xC3\xA9", kBoth},
      {{0xE2, 0x82, 0xAC}, "\xE2\x82\xAC", kBoth},
      {{0xF0, 0x9F, 0x98, 0x80}, "\xF0\x9F\x98\x80", kBoth},
      {{0xC3, 0x41}, "\xC3\x83" "A", kRead},  // the lead byte as its ANSI character
      {{0xE2, 0x82}, "\xC3\xA2\xC2\x82", kRead},  // cut short at the end
      // Overlong forms and five-byte ones are bytes, never characters: an
      // overlong line break once reached a request header (found by fuzzing).
      {{0xC0, 0x8A}, "\xC3\x80\xC2\x8A", kRead},
      {{0xF8, 0x88, 0x80, 0x80, 0x80}, "\xC3\xB8\xC2\x88\xC2\x80\xC2\x80\xC2\x80", kRead},
      // Old writers encoded each surrogate half on its own; both read as one.
      {{0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}, "\xF0\x9F\x98\x80", kRead},
      {{0xED, 0xA0, 0xBD}, "\xEF\xBF\xBD", kRead},
      {{0xEF, 0xBF, 0xBD, 'x'}, "\xED\xA0\xBD" "x", kWrite},
  };
  for (const auto& [bytes, text, way] : cases) {
    Bytes b;
    if (way != kWrite) {
      EXPECT_EQ(Utf8BytesToString(bytes), text);
    }
    if (way != kRead) {
      EXPECT_EQ(StringToUtf8Bytes(text, b), std::ssize(bytes));
      EXPECT_EQ(b, bytes);
    }
  }
  EXPECT_EQ(Utf8BytesToString(Bytes{'x', 'y', 0xC3, 0xA9}, 2), "\xC3\xA9");
  EXPECT_EQ(Utf8BytesToString(Bytes{'x'}, 5), "");
}

// The shared strict decoder at the edges of every range: the last byte
// value refused and the first accepted, and sequences cut short.
TEST(Utf8Bytes, StrictDecoderEdges) {
  // The code point of the whole sequence, or -1: refused.
  const std::pair<Bytes, std::int64_t> cases[] = {
      {{0x7F}, 0x7F}, {{0x80}, -1}, {{0xC1, 0xBF}, -1}, {{0xC2, 0x80}, 0x80}, {{0xC2, 0xC0}, -1},
      {{0xC2}, -1}, {{0xE0, 0x9F, 0xBF}, -1}, {{0xE0, 0xA0, 0x80}, 0x800}, {{0xED, 0x9F, 0xBF}, 0xD7FF},
      {{0xED, 0xA0, 0x80}, -1}, {{0xEF, 0xBF, 0xBF}, 0xFFFF}, {{0xE2, 0x82}, -1},
      {{0xF0, 0x8F, 0xBF, 0xBF}, -1}, {{0xF0, 0x90, 0x80, 0x80}, 0x10000},
      {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF}, {{0xF4, 0x90, 0x80, 0x80}, -1},
      {{0xF5, 0x80, 0x80, 0x80}, -1}, {{0xF0, 0x9F, 0x98}, -1},
  };
  for (const auto& [bytes, codePoint] : cases) {
    std::size_t length = 99;
    const std::uint32_t cp = DecodeUtf8(bytes.data(), bytes.size(), length);
    EXPECT_EQ(length, codePoint < 0 ? 0 : bytes.size())
        << std::hex << int{bytes[0]} << " " << int{bytes.back()};
    if (codePoint >= 0) {
      EXPECT_EQ(cp, codePoint) << std::hex << cp;
    }
  }
}

TEST(TextCompare, CaseFoldingAndComposition) {
  EXPECT_TRUE(TextEquals("ÁRVÍZTŰRŐ", "árvíztűrő"));
  EXPECT_TRUE(TextEquals("Straße", "STRASSE"));
  EXPECT_TRUE(TextEquals("e\xCC\x81", "\xC3\x89"));  // e + combining acute vs É
  EXPECT_FALSE(TextEquals("a", "b"));
  EXPECT_FALSE(TextEquals("e", "\xC3\xA9"));
  // A file name that is not UTF-8 still compares, through its Latin-1 reading.
  EXPECT_TRUE(TextEquals("\xC9t\xE9", "\xC3\xA9T\xC3\x89"));
}

TEST(Numbers, LeadingNumberReadsLikeTheOldConversion) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"2005", 2005}, {"0099", 99},     {" 1 9 9 9", 1999}, {"12abc", 12},  {"-7", -7},
      {"+8", 8},      {"x12", 0},       {"", 0},            {"2.5", 2},     {"3.5", 4},
      {"-2.5", -2},   {"1.2.3", 1},     {"2147483648", 2147483647},         {".5", 0},
      {"7/12", 7},    {"--1", 0},       {"1e3", 1000},      {"1.5E1x", 15}, {"12e", 12},
      {"&H1F", 31},   {"&o17", 15},     {"&H", 0},          {"1 2", 12},    {"\t3\n0", 30},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(LeadingInteger(text), value) << text;
}

// The document as "[name]key=value|key=value...".
std::string Dump(const IniDocument& doc) {
  std::string out;
  for (const IniSection& s : doc) {
    out += "[" + s.Name + "]";
    for (const IniKey& k : s.Keys) out += (&k == &s.Keys[0] ? "" : "|") + k.Key + "=" + k.Value;
  }
  return out;
}

TEST(IniParse, SectionsKeysAndValues) {
  const std::tuple<std::string, bool, int, std::string> cases[] = {  // text, escapes, sections, doc
      {"[options]\r\nLastPath=/home/u\\\\Music\r\n  Pad  =  a b  \r\na=b=c\r\n=nokey\r\n"
       "noequals\r\n;comment=1\r\n",
       true, 1, "[options]LastPath=/home/u\\Music|Pad=  a b  |a=b=c"},
      // Broken headers keep the current section; a lone CR stays inside its line.
      {"k0=dropped\n[one]\nk1=1\n[abc\nk2=2\n[]\nk3=3\n  [two] trailing\nk4=4\rstill4\n", false, 2,
       "[one]k1=1|k2=2|k3=3[two]k4=4\rstill4"},
      {"[s]\nk=a#VBCRLF#b#vbCrLf#", false, 1, "[s]k=a\r\nb\r\n"},
      {"", true, 0, ""},
  };
  for (const auto& [text, escapes, sections, dump] : cases) {
    IniDocument doc{{"stale", {}}};
    EXPECT_EQ(ParseIniText(text, doc, escapes), sections) << text;
    EXPECT_EQ(Dump(doc), dump);
  }
}

TEST(IniEscape, BothWays) {
  const std::tuple<std::string, std::string, bool> cases[] = {  // false: only read that way
      {"a\\b", "a\\\\b", true},
      {"x\r\ny", "x\\r\\ny", true},
      {std::string("\0", 1), "\\0", true},
      {"\x01\x1F", "\\h01\\h1F", true},
      {"\xC5\x91", "\\x0151", true},           // U+0151 beyond the code page
      {"caf\xC3\xA9", "caf\xC3\xA9", true},    // 32..255 stays
      {"\xF0\x9F\x98\x80", "\\xD83D\\xDE00", true},
      {"\xC5\x91\x01", "\\X0151\\H01", false},
      {"end", "end\\", false},
      {std::string("\0!", 2), "\\xZZZZ!", false},
      {"\n\r\t", "\\N\\R\\T", false},
  };
  for (const auto& [text, escaped, both] : cases) {
    if (both) {
      EXPECT_EQ(EscapeIniValue(text), escaped);
    }
    EXPECT_EQ(UnescapeIniValue(escaped), text) << escaped;
  }
}

}  // namespace
}  // namespace velotag
