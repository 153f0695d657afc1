#include "online/localdb.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/paths.h"
#include "testutil.h"

namespace velotag {
namespace {

std::string FileText(const std::string& path) {
  test::Bytes b = test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(LocalDb, AppendsOnlyValidSectionsOfAnswerLines) {
  test::TempDir dir;
  const std::string db = dir.file("LocalDB.ini");
  const std::string refused[] = {
      "",
      "[FP]\r\nuid=only-a-puid\r\n",  // so the next lookup asks the service again
      "[FP]\r\nalb=a\r\ngnr=b\r\n",
      "[]\r\nart=a\r\nttl=b\r\n",  // "]" must be the third character or later
      "FP]\r\nart=a\r\nttl=b\r\n",
  };
  for (const std::string& text : refused) EXPECT_FALSE(AddDBSection(db, text)) << text;
  EXPECT_EQ(GetPathType(db), kPathMissing);
  EXPECT_FALSE(AddDBSection(dir.path() + "no/folder/LocalDB.ini", "[x]\r\nart=a\r\nttl=b"));

  EXPECT_TRUE(AddDBSection(db, "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n"));
  ::chmod(db.c_str(), 0444);  // read-only is no obstacle
  // Escaped so that any text survives; other lines dropped; the sections
  // separated by an empty line.
  const std::string title = "Ttl=\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xc3\xa9t\xc3\xa9";  // Иван été
  EXPECT_TRUE(AddDBSection(db, "  [FP2]  \r\n\r\n ART=AC\\DC\nLive \r\nalb=x\r\nnoise\r\n" +
                                   title));
  EXPECT_EQ(FileText(db), "[FP1]\r\nuid=p1\r\nart=Artist\r\nttl=Title\r\n\r\n[FP2]\r\n"
                          "ART=AC\\\\DC\\nLive\r\nTtl=\\x0418\\x0432\\x0430\\x043D \xe9t\xe9\r\n");
  std::vector<std::string> lines;
  ::chmod(db.c_str(), 0444);
  ASSERT_EQ(GetDBSection(db, "fp2", lines), 2);
  EXPECT_EQ(lines, std::vector<std::string>({"ART=AC\\DC\nLive", title}));
  struct stat st {};
  ::stat(db.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0444u);  // a lookup only reads
}

TEST(LocalDb, FindsTheFirstSectionOfAName) {
  test::TempDir dir;
  const std::string db = dir.file("LocalDB.ini");
  std::string text =
      "; a comment before any section\r\n[other]\r\nart=not this\r\n"
      "[Wanted]\r\n  art=Artist\r\n;ttl=commented\r\nno equals sign\r\n=starts with equals\r\n"
      "\r\nuid=p\r\nttl=a\nb\r\n"  // a lone LF is dropped from the line
      "[next]\r\nart=after\r\n[wanted]\r\nart=the second of the name\r\n";
  // Far past the first block read.
  for (int i = 0; i < 200; ++i)
    text += "[fp" + std::to_string(i) + "]\r\nart=a" + std::to_string(i) + "\r\n";
  test::WriteFileText(db, text + "[last]\r\nart=no final line break");
  test::WriteFileText(dir.file("lf.ini"), "[lf]\nart=a\nttl=b\n");  // LF alone never ends a line
  struct Case {
    std::string file, name;
    std::int32_t count;
    std::vector<std::string> lines;
  } const cases[] = {
      {db, "wanted", 3, {"art=Artist", "uid=p", "ttl=ab"}},
      {db, " [WANTED] ", 3, {"art=Artist", "uid=p", "ttl=ab"}},
      {db, "fp150", 1, {"art=a150"}},
      {db, "last", 1, {"art=no final line break"}},
      {db, "missing", 0, {}},
      {db, "", -1, {}},
      {dir.file("missing.ini"), "wanted", 0, {}},
      {dir.file("lf.ini"), "lf", 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = {"stale"};
    EXPECT_EQ(GetDBSection(c.file, c.name, lines), c.count) << c.name;
    EXPECT_EQ(lines, c.lines) << c.name;
  }
}

}  // namespace
}  // namespace velotag
