#include "grid/textmatch.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "grid/mylistview.h"
#include "support/textenc.h"

namespace velotag {
namespace {

std::string Utf8(std::uint32_t cp) {
  std::string s;
  AppendUtf8(s, cp);
  return s;
}

bool HasAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x80) return true;
  return false;
}

// The search shortcut relies on this list being complete for the Unicode
// tables in use: every character whose folding yields ASCII, or that changes
// the ASCII letter before it, must be on it.
TEST(FoldShortcut, ListCoversEveryCharacterThatTouchesAscii) {
  for (std::uint32_t cp = 0x80; cp < 0x30000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (HasAscii(CaseFold(Utf8(cp)))) {
      EXPECT_TRUE(grid_detail::FoldMayTouchAscii(cp)) << std::hex << cp;
    }
  }
  const char bases[] = {'a', 'E', 'i', 'K', 's', '<', '=', '>', '0'};
  for (std::uint32_t cp = 0x80; cp < 0x3000; ++cp) {
    std::string mark = Utf8(cp);
    std::string foldedMark = CaseFold(mark);
    for (char base : bases) {
      char lower = base >= 'A' && base <= 'Z' ? static_cast<char>(base + 32) : base;
      if (CaseFold(std::string(1, base) + mark) != std::string(1, lower) + foldedMark) {
        EXPECT_TRUE(grid_detail::FoldMayTouchAscii(cp)) << std::hex << cp << " after " << base;
      }
    }
  }
}

// Random cells and search texts: the matcher must agree with folding both
// texts and comparing, whichever path it takes.
TEST(FoldShortcut, MatcherAgreesWithPlainFolding) {
  const char* pieces[] = {"a",   "B",  "ss",   "S",  "k",  " ",  "\xC3\xA9",       "\xC3\x89",
                          "e\xCC\x81", "\xC3\x9F", "\xE2\x84\xAA", "\xEF\xAC\x81", "fi",
                          "\xC4\xB0",  "i",  "\xCC\x81", "\xE9", "\xF0\x9F\x98\x80", "x"};
  std::mt19937 rng(5);
  auto text = [&](int maxLen) {
    std::string s;
    int len = static_cast<int>(rng() % static_cast<unsigned>(maxLen + 1));
    for (int k = 0; k < len; ++k) s += pieces[rng() % std::size(pieces)];
    return s;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string cell = text(8);
    std::string needle = text(3);
    if (needle.empty()) continue;
    bool whole = rng() % 4 == 0;
    grid_detail::CellMatcher matcher(needle, whole, true);
    std::string fc = CaseFold(cell);
    std::string fn = CaseFold(needle);
    bool expected = whole ? fc == fn : fc.find(fn) != std::string::npos;
    ASSERT_EQ(matcher.Matches(cell, false), expected) << "'" << cell << "' '" << needle << "'";
  }
}

}  // namespace
}  // namespace velotag
