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
  EXPECT_EQ(std::to_string(s.OptID3ver) + std::to_string(s.OptID3editVer) + std::to_string(s.ChkID3v1[3]) +
                std::to_string(s.ChkID3v1[4]) + "|" + s.RenamePattern + "|" + s.TxtID3[0] + "|" + s.Servers.Fingerprint,
            "0101||second|127.0.0.1:8080");
  std::string scores;
  for (const char* text : {"", "0.8", "1", "0", "-0.2", "1.5", "high"}) {
    s.Servers.AcoustIdScore = text;
    scores += std::to_string(AcoustIdMinScore(s.Servers)).substr(0, 3) + " ";
  }
  EXPECT_EQ(scores, "0.5 0.8 1.0 0.5 0.5 0.5 0.5 ");

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
