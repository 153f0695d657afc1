#include "online/localdb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

using test::TempDir;

std::string FileText(const std::string& path) {
  test::Bytes b = test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(LocalDbAdd, AppendsSectionsSeparatedByAnEmptyLine) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  EXPECT_TRUE(AddDBSection(db, "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n"));
  EXPECT_EQ(FileText(db), "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n");
  EXPECT_TRUE(AddDBSection(db, "  [FP2]  \r\n\r\n ART=Upper \r\nalb=dropped\r\nnoise\r\nTtl=t2"));
  EXPECT_EQ(FileText(db),
            "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n"
            "\r\n[FP2]\r\nART=Upper\r\nTtl=t2\r\n");
}

TEST(LocalDbAdd, StoresNothingWithoutAHeaderOrTwoAnswers) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  const std::string refused[] = {
      "",
      "[FP]\r\nuid=only-a-puid\r\n",  // so the next lookup asks the service again
      "[FP]\r\nalb=a\r\ngnr=b\r\n",
      "[]\r\nart=a\r\nttl=b\r\n",  // "]" must be the third character or later
      "[FP\r\nart=a\r\nttl=b\r\n",
      "FP]\r\nart=a\r\nttl=b\r\n",
  };
  for (const std::string& text : refused) EXPECT_FALSE(AddDBSection(db, text)) << text;
  EXPECT_EQ(GetPathType(db), kPathMissing);
  EXPECT_TRUE(AddDBSection(db, "[x]\r\nart=a\r\nttl=b"));
  EXPECT_FALSE(AddDBSection(dir.path() + "no/folder/LocalDB.ini", "[x]\r\nart=a\r\nttl=b"));
}

TEST(LocalDbAdd, AReadOnlyDatabaseIsStillAppendedTo) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  ASSERT_TRUE(AddDBSection(db, "[a]\r\nart=1\r\nttl=2"));
  ::chmod(db.c_str(), 0444);
  EXPECT_TRUE(AddDBSection(db, "[b]\r\nart=3\r\nttl=4"));
  std::vector<std::string> lines;
  EXPECT_EQ(GetDBSection(db, "b", lines), 2);
}

TEST(LocalDbRoundTrip, EscapedValuesComeBackUnchanged) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  const std::string artist = "AC\\DC\nLive";
  const std::string title = "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xc3\xa9t\xc3\xa9";  // Иван été
  ASSERT_TRUE(AddDBSection(db, "[fp]\r\nart=" + artist + "\r\nttl=" + title));
  EXPECT_EQ(FileText(db), "[fp]\r\nart=AC\\\\DC\\nLive\r\nttl=\\x0418\\x0432\\x0430\\x043D \xe9t\xe9\r\n");
  std::vector<std::string> lines;
  ASSERT_EQ(GetDBSection(db, "FP", lines), 2);
  EXPECT_EQ(lines[0], "art=" + artist);
  EXPECT_EQ(lines[1], "ttl=" + title);
}

TEST(LocalDbGet, FindsTheFirstSectionOfAName) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  test::WriteFileText(db,
                      "; a comment before any section\r\n"
                      "[other]\r\nart=not this\r\n"
                      "[Wanted]\r\n"
                      "  art=Artist\r\n"
                      ";ttl=commented\r\n"
                      "no equals sign\r\n"
                      "=starts with equals\r\n"
                      "\r\n"
                      "uid=p\r\x0a"
                      "ttl=a\nb\r\n"  // a lone LF is dropped from the line
                      "[next]\r\nart=after\r\n"
                      "[wanted]\r\nart=the second of the name\r\n"
                      "[last]\r\nart=no final line break");
  struct Case {
    std::string name;
    std::int32_t count;
    std::vector<std::string> lines;
  } const cases[] = {
      {"wanted", 3, {"art=Artist", "uid=p", "ttl=ab"}},
      {" [WANTED] ", 3, {"art=Artist", "uid=p", "ttl=ab"}},
      {"[wanted", 3, {"art=Artist", "uid=p", "ttl=ab"}},
      {"other", 1, {"art=not this"}},
      {"last", 1, {"art=no final line break"}},
      {"missing", 0, {}},
      {"", -1, {}},
      {"[]", -1, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = {"stale"};
    EXPECT_EQ(GetDBSection(db, c.name, lines), c.count) << c.name;
    EXPECT_EQ(lines, c.lines) << c.name;
  }
  std::vector<std::string> lines;
  EXPECT_EQ(GetDBSection("", "wanted", lines), -1);
  EXPECT_EQ(GetDBSection(dir.file("missing.ini"), "wanted", lines), 0);
}

TEST(LocalDbGet, LineFeedsAloneNeverEndALine) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  test::WriteFileText(db, "[fp]\nart=a\nttl=b\nuid=c\n");
  std::vector<std::string> lines;
  EXPECT_EQ(GetDBSection(db, "fp", lines), 0);
}

TEST(LocalDbGet, ReadsPastTheFirstBlock) {
  TempDir dir;
  std::string db = dir.file("LocalDB.ini");
  std::string text;
  for (int i = 0; i < 200; ++i)
    text += "[fp" + std::to_string(i) + "]\r\nart=a" + std::to_string(i) + "\r\nttl=t\r\n\r\n";
  test::WriteFileText(db, text);
  std::vector<std::string> lines;
  ASSERT_EQ(GetDBSection(db, "fp150", lines), 2);
  EXPECT_EQ(lines[0], "art=a150");
}

}  // namespace
}  // namespace velotag
