#include "library/settings.h"

#include <gtest/gtest.h>

#include "support/largefile.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::TempDir;
using test::WriteFileText;

// Broken values read as their defaults, a repeated section or key as its
// last; an AcoustID score is used only within (0, 1].
TEST(Settings, TheSettingsFile) {
  TempDir dir;
  WriteFileText(dir.file("v.ini"), "[options]\r\nOptID3ver=7\r\nChkID3v1(3)=abc\r\nChkID3v1(4)=2\r\n"
                "RenamePattern=no variables\r\nTxtID3(0)=first\r\n"
                "[Options]\r\nTxtID3(0)=second\r\nOptID3editVer=1\r\n[servers]\r\n" "fingerprint=127.0.0.1:8080");
  Settings s;
  EXPECT_FALSE(LoadSettings(dir.file("missing.ini"), s));
  EXPECT_TRUE(LoadSettings(dir.file("v.ini"), s));
  EXPECT_EQ(s.OptID3ver, 0);
  EXPECT_EQ(s.OptID3editVer, 1);
  EXPECT_EQ(s.ChkID3v1[3], 0);
  EXPECT_EQ(s.ChkID3v1[4], 1);
  EXPECT_EQ(s.RenamePattern, "");
  EXPECT_EQ(s.TxtID3[0], "second");
  EXPECT_EQ(s.Servers.Fingerprint, "127.0.0.1:8080");
  const std::pair<const char*, double> kScores[] = {{"", 0.5},    {"0.8", 0.8}, {"1", 1.0},   {"0", 0.5},
                                                    {"-0.2", 0.5}, {"1.5", 0.5}, {"high", 0.5}};
  for (const auto& [text, score] : kScores) {
    s.Servers.AcoustIdScore = text;
    EXPECT_DOUBLE_EQ(AcoustIdMinScore(s.Servers), score) << text;
  }

  // Every value travels through the file and back.
  s.LastPath = "/home/u/Zene/Ősz";
  for (int i = 0; i < 16; ++i) s.TxtID3[static_cast<std::size_t>(i)] = "v" + std::to_string(i);
  s.TxtID3[5] = "multi\r\nline € \\ comment";
  s.ChkID3v1 = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
  s.CmbID3v1 = "Rock";
  s.ChkID3v1AutoTrack = s.OptID3editVer = s.OptID3ver = 1;
  s.RenamePattern = "(%track:2::0%) - %title%";
  s.Servers = {.Fingerprint = "fp.example:80", .Cddb = "", .Cddb2 = "cddb.example:8880",
               .MusicBrainz = "http://127.0.0.1:5000/mb", .CddbEmail = "me@example.org", .Update = "",
               .AcoustIdKey = "k3Y", .AcoustId = "http://127.0.0.1:8080/acoustid", .AcoustIdScore = "0.7"};
  ASSERT_TRUE(SaveSettings(dir.file("r.ini"), s));
  Settings back;
  ASSERT_TRUE(LoadSettings(dir.file("r.ini"), back));
  EXPECT_EQ(BuildSettingsText(back), BuildSettingsText(s));
  // The file is single-byte text: characters beyond Latin-1 travel escaped.
  std::string raw;
  ReadTextFile(dir.file("r.ini"), raw, 0, kTextAnsi);
  EXPECT_NE(raw.find("Zene/\\x0150sz"), std::string::npos);
}

}  // namespace
}  // namespace velotag
