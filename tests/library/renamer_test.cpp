#include "library/renamer.h"

#include <gtest/gtest.h>

#include "library/settings.h"

namespace velotag {
namespace {

// Values in variable order: track, title, artist, album, year, genre.
const std::vector<std::string> kValues = {"9",    "Song Title", "Harbor Lights Orchestra",
                                          "Album", "1999",      "Rock"};

TEST(RenamePattern, Engine) {
  struct Case {
    std::string pattern, name;
  } const cases[] = {
      {"%track:3::0%", "009.mp3"},
      {"%artist::10:%", "Harbor Lig.mp3"},
      {"%track:2:1:0%", "09.mp3"},        // a maximum below the minimum does not cut
      {"%artist:0:2%", "Ha.mp3"},
      {"%TITLE% - %Title:12%", "Song Title -   Song Title.mp3"},
      {"%foo% %title%", "%foo% Song Title.mp3"},
      {"%title%.MP3", "Song Title.mp3"},
      {"100% %title%", "100% Song Title.mp3"},    // the lone % opens no token
      {"%%title%%", "%Song Title%.mp3"},
      {"(%track:2::0%) - %artist% - %title%", "(09) - Harbor Lights Orchestra - Song Title.mp3"},
      {"%year:6::x%", "xx1999.mp3"},
      {"%genre:5::é%", "éRock.mp3"},
      {"x%track:2000000000::0%", "x" + std::string(249, '0') + ".mp3"},  // a hand-edited width costs
      {"%track:300::0%", std::string(250, '0') + ".mp3"},                  // no more than a name holds
      {"plain text", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyRenamePattern(c.pattern, RenameVariables(), kValues), c.name) << c.pattern;
}

// 250 characters of two bytes each would not fit in a Linux file name.
TEST(RenamePattern, LongNamesAreCutBeforeTheExtension) {
  std::string e300;
  for (int i = 0; i < 300; ++i) e300 += "\xC3\xA9";
  std::vector<std::string> values = kValues;
  for (const std::string& title : {std::string(300, 't'), e300}) {
    values[1] = title;
    EXPECT_EQ(ApplyRenamePattern("%title%", RenameVariables(), values), title.substr(0, 250) + ".mp3");
  }
}

// Names from tag values stay names in their folder and keep ".mp3".
TEST(RenamePattern, EngineNamesBecomeFileNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"..mp3", "_.mp3"},  // a value of "." once gave "__mp3"
      {"...mp3", "__.mp3"},
      {"...And Justice.mp3", "__.And Justice.mp3"},
      {"AC/DC: Live?.mp3", "AC-DC; Live$.mp3"},
      {"../../x.mp3", "__-..-x.mp3"},
  };
  for (const auto& [engine, name] : cases) EXPECT_EQ(RenamedFileName(engine), name) << engine;
}

TEST(RenamePattern, Validity) {
  for (const std::string valid : {"%track:2::0%", "%TITLE%", "x %artist: y %"})
    EXPECT_EQ(IsValidRenamePattern(valid, RenameVariables()), valid);
  for (const std::string invalid : {"%artist:", "plain", "", "%foo%"})
    EXPECT_EQ(IsValidRenamePattern(invalid, RenameVariables()), "") << invalid;
  EXPECT_EQ(IsValidRenamePattern("%title%", {}), "");
}

}  // namespace
}  // namespace velotag
