#include "tags/genres.h"

#include <gtest/gtest.h>

namespace velotag {
namespace {

TEST(Genres, NamesOfEveryByteRange) {
  EXPECT_EQ(GenreName(0), "Blues");
  EXPECT_EQ(GenreName(67), "Psychadelic");
  EXPECT_EQ(GenreName(79), "Hardcase Rock");
  EXPECT_EQ(GenreName(123), "A capella");
  EXPECT_EQ(GenreName(147), "Synthpop");
  EXPECT_EQ(GenreName(148), "148");
  EXPECT_EQ(GenreName(254), "254");
  EXPECT_EQ(GenreName(255), "");
}

TEST(Genres, EveryNameFindsItsOwnIndex) {
  for (int i = 0; i < kGenreCount; ++i) {
    std::string name = GenreName(static_cast<std::uint8_t>(i));
    EXPECT_EQ(GenreIndex(name, false), i) << name;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(GenreIndex(upper, true), i) << name;
  }
}

TEST(Genres, IndexOfTextsAndTheCallersVariable) {
  struct Case {
    std::string in;
    bool ignoreSpaces;
    int index;
    std::string after;
  } const cases[] = {
      {"rock", false, 17, "rock"},
      {"  Rock  ", false, 17, "Rock"},
      {"Classic Rock", true, 1, "ClassicRock"},
      {"ClassicRock", true, 1, "ClassicRock"},
      {"Classic  Rock", true, 1, "ClassicRock"},
      {"Classic  Rock", false, 255, "Classic  Rock"},
      {"Hard Rock", false, 255, "Hard Rock"},
      {"Psychedelic", false, 255, "Psychedelic"},
      {"17", false, 17, "17"},
      {"200", false, 200, "200"},
      {"255", false, 255, "255"},
      {"-1", false, 255, "-1"},
      {"12.5", false, 12, "12.5"},
      {"", false, 255, ""},
      {"   ", false, 255, ""},
      {"(17)", false, 255, "(17)"},
      {"rhythmic soul", true, 118, "rhythmicsoul"},
  };
  for (const Case& c : cases) {
    std::string name = c.in;
    EXPECT_EQ(GenreIndex(name, c.ignoreSpaces), c.index) << c.in;
    EXPECT_EQ(name, c.after) << c.in;
  }
}

}  // namespace
}  // namespace velotag
