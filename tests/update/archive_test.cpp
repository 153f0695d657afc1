#include <gtest/gtest.h>
#include <sys/stat.h>

#include "helpers.h"
#include "update/extract.h"
#include "update/mirror.h"

namespace velotag {
namespace {

TEST(Extract, UnpacksPlainFilesAndRefusesTheRest) {
  test::TempDir dir;
  test::WriteFileText(dir.file("prog"), "#!/bin/sh\n");
  Extraction good = ExtractUpgradeArchive(
      test::MakeArchive(dir.file("a.zip"), "zip",
                        {"file:velotag:4755:" + dir.file("prog"), "dir:lib", "text:lib/x:hi",
                         "text:./doc/read me:doc"}),
      dir.file("out"), "velotag");
  ASSERT_TRUE(good.ok) << good.error;
  EXPECT_EQ(good.names, (std::vector<std::string>{"velotag", "lib", "doc"}));
  EXPECT_EQ(test::ReadText(dir.file("out/doc/read me")), "doc");
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("out/velotag").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);  // no set-id bit from a download

  for (const auto& [kind, entries] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"zip", {"text:ok:1", "text:../x:evil"}},
           {"zip", {"text:ok:1", "text:sub/../../x:evil"}},
           {"zip", {"text:/tmp/velotag-abs-test:evil"}},
           {"zip", {"text:ok:1", "link:l:/etc/passwd"}},
           {"html", {}}}) {
    SCOPED_TRACE(kind + " " + (entries.empty() ? "" : entries.back()));
    std::string archive = dir.file("bad." + kind);
    if (kind == "html") test::WriteFileText(archive, "<html>Not Found</html>");
    else test::MakeArchive(archive, kind, entries);
    Extraction x = ExtractUpgradeArchive(archive, dir.file("sub/out"), "velotag");
    EXPECT_FALSE(x.ok);
    EXPECT_FALSE(x.error.empty());
    // Nothing written: not the good entries, nothing outside.
    for (const std::string& path :
         {dir.file("sub/out"), dir.file("sub/x"), dir.file("x"), std::string("/tmp/velotag-abs-test")})
      EXPECT_EQ(GetPathType(path), kPathMissing) << path;
  }
}

TEST(DownloadedFile, KindByFirstBytesAndTheOfferText) {
  test::TempDir dir;
  for (const auto& [bytes, offer] : std::vector<std::pair<std::string, std::string>>{
           {"PK\x03\x04", "File: f\r\nOpen archived file?"},
           {"Rar!\x1a\x07", "File: f\r\nOpen archived file?"},
           {"MZ\x90", "File: f\r\n\r\nOpen Directory?"},
           // Its version read from its bytes, never by running it (built
           // here: as one literal it would stamp this test program).
           {"\x7F" "ELF " + std::string(kVersionStampPrefix) + std::string("\0 ", 2) +
                kVersionStampPrefix + "2.3.4-rc1\n",
            "File: f\r\nVer: 2.3.4-rc1\r\nOpen Directory?"}}) {
    test::WriteFileText(dir.file("f"), bytes);
    DownloadKind kind;
    EXPECT_EQ(OfferDownloadedText(dir.file("f"), kind), offer);
  }
}

}  // namespace
}  // namespace velotag
