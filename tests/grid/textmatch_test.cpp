#include "grid/textmatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "support/textenc.h"

namespace velotag {
namespace {

std::string Utf8(std::uint32_t cp) {
  std::string s;
  AppendUtf8(s, cp);
  return s;
}

// The search shortcut relies on this list being complete for the Unicode
// tables in use: every character whose folding yields ASCII, or that changes
// the ASCII character before it, must be on it.
TEST(FoldShortcut, ListCoversEveryCharacterThatTouchesAscii) {
  for (std::uint32_t cp = 0x80; cp < 0x30000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string folded = CaseFold(Utf8(cp));
    bool ascii =
        std::any_of(folded.begin(), folded.end(), [](unsigned char c) { return c < 0x80; });
    EXPECT_TRUE(!ascii || grid_detail::FoldMayTouchAscii(cp)) << std::hex << cp;
    for (char base : {'a', 'E', 'i', 'K', 's', '<', '=', '>', '0'}) {
      if (cp >= 0x3000) break;
      std::string lower(1, static_cast<char>(base >= 'A' && base <= 'Z' ? base + 32 : base));
      EXPECT_TRUE(CaseFold(base + Utf8(cp)) == lower + folded || grid_detail::FoldMayTouchAscii(cp))
          << std::hex << cp << " after " << base;
    }
  }
}

// Random cells and search texts: the matcher must agree with folding both
// texts and comparing, whichever path it takes.
TEST(FoldShortcut, MatcherAgreesWithPlainFolding) {
  const char* pieces[] = {"a", "B", "ss", "S", "k", " ", "\xC3\xA9", "\xC3\x89", "e\xCC\x81",
                          "\xC3\x9F", "\xE2\x84\xAA", "\xEF\xAC\x81", "fi", "\xC4\xB0", "i",
                          "\xCC\x81", "\xE9", "\xF0\x9F\x98\x80", "x"};
  std::mt19937 rng(5);
  auto text = [&](unsigned maxLen) {
    std::string s;
    for (unsigned k = rng() % (maxLen + 1); k > 0; --k) s += pieces[rng() % std::size(pieces)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string cell = text(8), needle = text(3);
    if (needle.empty()) continue;
    bool whole = rng() % 4 == 0;
    std::string fc = CaseFold(cell), fn = CaseFold(needle);
    bool expected = whole ? fc == fn : fc.find(fn) != std::string::npos;
    ASSERT_EQ(grid_detail::CellMatcher(needle, whole, true).Matches(cell, false), expected)
        << "'" << cell << "' '" << needle << "'";
  }
}

}  // namespace
}  // namespace velotag
