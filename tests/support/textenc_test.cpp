#include "support/textenc.h"

#include <gtest/gtest.h>

namespace velotag {
namespace {

struct Utf16Case {
  Bytes bytes;
  bool bigEndian;
  std::string text;
  bool hadMark;
};

TEST(Utf16Bytes, MarksOrderAndOddBytes) {
  const Utf16Case cases[] = {
      {{0xFF, 0xFE, 0x41, 0x00}, true, "A", true},
      {{0xFE, 0xFF, 0x00, 0x41}, false, "A", true},
      {{0x00, 0x41}, true, "A", false},
      {{0x41, 0x00, 0x42}, false, "A", false},
      {{0x41}, false, "", false},
      {{0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, false, std::string("A\0B", 3), false},
      {{0x3D, 0xD8, 0x00, 0xDE}, false, "\xF0\x9F\x98\x80", false},
      {{0x3D, 0xD8, 0x41, 0x00}, false, "\xEF\xBF\xBD" "A", false},  // lone surrogate
  };
  for (const Utf16Case& c : cases) {
    bool mark = !c.hadMark;
    EXPECT_EQ(Utf16BytesToString(c.bytes, c.bigEndian, mark), c.text);
    EXPECT_EQ(mark, c.hadMark);
  }
}

struct Utf8Case {
  Bytes bytes;
  std::string text;
};

TEST(Utf8Bytes, LenientDecoding) {
  const Utf8Case cases[] = {
      {{0xC3, 0xA9}, "\xC3\xA9"},
      {{0xE2, 0x82, 0xAC}, "\xE2\x82\xAC"},
      {{0xF0, 0x9F, 0x98, 0x80}, "\xF0\x9F\x98\x80"},
      {{0xC3, 0x41}, "\xC3\x83" "A"},            // the lead byte as its ANSI character
      {{0x80}, "\xC2\x80"},
      {{0xE2, 0x82}, "\xC3\xA2\xC2\x82"},        // cut short at the end
      {{0xFE, 0xFF}, "\xC3\xBE\xC3\xBF"},
      // Old writers encoded each surrogate half on its own; both read as one.
      {{0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}, "\xF0\x9F\x98\x80"},
      {{0xED, 0xA0, 0xBD}, "\xEF\xBF\xBD"},
  };
  for (const Utf8Case& c : cases) EXPECT_EQ(Utf8BytesToString(c.bytes), c.text);
  EXPECT_EQ(Utf8BytesToString(Bytes{'x', 'y', 0xC3, 0xA9}, 2), "\xC3\xA9");
  EXPECT_EQ(Utf8BytesToString(Bytes{'x'}, 5), "");
}

TEST(Utf8Bytes, WritingIsAlwaysValid) {
  Bytes b;
  EXPECT_EQ(StringToUtf8Bytes("\xC3\xA9", b), 2);
  EXPECT_EQ(b, (Bytes{0xC3, 0xA9}));
  EXPECT_EQ(StringToUtf8Bytes("\xE2\x82\xAC", b), 3);
  // A pair is one four-byte sequence, never two three-byte halves.
  EXPECT_EQ(StringToUtf8Bytes("\xF0\x9F\x98\x80", b), 4);
  EXPECT_EQ(b, (Bytes{0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(StringToUtf8Bytes("\xED\xA0\xBD" "x", b), 4);
  EXPECT_EQ(b, (Bytes{0xEF, 0xBF, 0xBD, 'x'}));
  EXPECT_EQ(StringToUtf8Bytes("", b), 0);
  EXPECT_TRUE(b.empty());
}

TEST(Encodings, SmallOperations) {
  Bytes b{0x41, 0x00, 0x42, 0x00, 0x43};
  SwapByteOrder(b);
  EXPECT_EQ(b, (Bytes{0x00, 0x41, 0x00, 0x42, 0x43}));
  Bytes empty;
  SwapByteOrder(empty);
  EXPECT_EQ(CharCodeW("\xEF\xBF\xBD..."), 0xFFFD);
  EXPECT_EQ(CharCodeW("\xF0\x9F\x98\x80"), 0xD83D);
  EXPECT_EQ(CharCodeW(""), 0);
  EXPECT_EQ(CodePointToString(0x41), "A");
  EXPECT_EQ(CodePointToString(0x1F600), "\xF0\x9F\x98\x80");
  EXPECT_EQ(CodePointToString(0x110041), "A");  // reduced modulo the code space
}

TEST(Encodings, AnsiIsLatin1BothWays) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(StringToAnsi(AnsiToString(all)), all);
  EXPECT_EQ(StringToAnsi("\xC5\x91\xF0\x9F\x98\x80"), (Bytes{'?', '?'}));
}

TEST(Encodings, CodePage852) {
  // ő is 0x8B and é 0x82 in code page 852; each comes back as the Latin-1
  // character of that byte so that an ANSI write reproduces it.
  EXPECT_EQ(StringToAnsi(ToOemCentralEuropean("\xC5\x91\xC3\xA9z")), (Bytes{0x8B, 0x82, 'z'}));
  EXPECT_EQ(StringToAnsi(ToOemCentralEuropean("\xE2\x82\xAC")), (Bytes{'?'}));
  EXPECT_EQ(ToOemCentralEuropean(""), "");
}

TEST(Encodings, CodePointCountsAndPrefixes) {
  EXPECT_EQ(Utf8Length("a\xC3\xA9\xF0\x9F\x98\x80"), 3u);
  EXPECT_EQ(Utf8Left("a\xC3\xA9\xF0\x9F\x98\x80", 2), "a\xC3\xA9");
  EXPECT_EQ(Utf8Left("ab", 5), "ab");
  EXPECT_EQ(Utf8Left("ab", 0), "");
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

}  // namespace
}  // namespace velotag
