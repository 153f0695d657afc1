#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/paths.h"
#include "testutil.h"
#include "update/extract.h"
#include "update/mirror.h"

namespace velotag {
namespace {

using test::TempDir;

// An archive written by Python's zipfile or tarfile, entries as
// tools/make_archive.py takes them.
std::string MakeArchive(const TempDir& dir, const std::string& name, const std::string& kind,
                        const std::vector<std::string>& entries) {
  std::vector<std::string> argv = {test::PythonPath(), test::ToolPath("make_archive.py"),
                                   dir.file(name), kind};
  argv.insert(argv.end(), entries.begin(), entries.end());
  test::ProcessResult r = test::RunProcess(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return dir.file(name);
}

std::string Text(const std::string& path) {
  test::Bytes b = test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(Extract, UnpacksFilesAndFoldersWithTheirModes) {
  TempDir dir;
  test::WriteFileText(dir.file("prog"), "#!/bin/sh\n");
  std::string zip = MakeArchive(dir, "a.zip", "zip",
                                {"file:velotag:4755:" + dir.file("prog"), "dir:lib",
                                 "text:lib/x.txt:hello", "text:./doc/read me.txt:doc"});
  Extraction x = ExtractUpgradeArchive(zip, dir.file("out"), "velotag");
  ASSERT_TRUE(x.ok) << x.error;
  EXPECT_EQ(x.names, (std::vector<std::string>{"velotag", "lib", "doc"}));
  EXPECT_EQ(Text(dir.file("out/lib/x.txt")), "hello");
  EXPECT_EQ(Text(dir.file("out/doc/read me.txt")), "doc");
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("out/velotag").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);  // executable, but no set-id bit from a download
}

TEST(Extract, RefusesEntriesThatLeaveTheFolderOrAreNoPlainFiles) {
  TempDir dir;
  struct Case {
    const char* kind;
    std::vector<std::string> entries;
  };
  for (const Case& c : std::vector<Case>{
           {"zip", {"text:ok:1", "text:../x:evil"}},
           {"zip", {"text:ok:1", "text:sub/../../x:evil"}},
           {"zip", {"text:/tmp/velotag-abs-test:evil"}},
           {"zip", {"text:ok:1", "link:l:/etc/passwd"}},
           {"tar", {"text:ok:1", "link:l:../x"}},
           {"tar", {"text:ok:1", "hard:h:ok"}},
           {"tar", {"dev:null"}},
           {"tar", {"fifo:pipe"}}}) {
    SCOPED_TRACE(c.entries.back());
    std::string archive = MakeArchive(dir, std::string("a.") + c.kind, c.kind, c.entries);
    Extraction x = ExtractUpgradeArchive(archive, dir.file("sub/out"), "velotag");
    EXPECT_FALSE(x.ok);
    EXPECT_FALSE(x.error.empty());
    EXPECT_TRUE(x.names.empty());
    // Nothing written: not the good entries, nothing outside.
    EXPECT_EQ(GetPathType(dir.file("sub/out")), kPathMissing);
    EXPECT_EQ(GetPathType(dir.file("sub/x")), kPathMissing);
    EXPECT_EQ(GetPathType(dir.file("x")), kPathMissing);
    EXPECT_EQ(GetPathType("/tmp/velotag-abs-test"), kPathMissing);
  }
  test::WriteFileText(dir.file("page.html"), "<html>Not Found</html>");
  EXPECT_FALSE(ExtractUpgradeArchive(dir.file("page.html"), dir.file("out"), "velotag").ok);
}

TEST(Extract, AnExecutableDownloadBecomesTheProgram) {
  TempDir dir;
  Extraction x = ExtractUpgradeArchive("/proc/self/exe", dir.file("out"), "velotag");
  ASSERT_TRUE(x.ok) << x.error;
  EXPECT_EQ(x.names, std::vector<std::string>{"velotag"});
  EXPECT_EQ(test::ReadFileBytes(dir.file("out/velotag")), test::ReadFileBytes("/proc/self/exe"));
  EXPECT_EQ(::access(dir.file("out/velotag").c_str(), X_OK), 0);
  EXPECT_FALSE(ExtractUpgradeArchive("/proc/self/exe", dir.file("out"), "../velotag").ok);
}

TEST(DownloadedFile, KindByFirstBytesAndTheOfferText) {
  TempDir dir;
  struct Case {
    std::string bytes;
    DownloadKind kind;
    std::string offer;
  };
  for (const Case& c : std::vector<Case>{
           {"PK\x03\x04rest", DownloadKind::Zip, "File: f.bin\r\nOpen archived file?"},
           {"Rar!\x1a\x07", DownloadKind::Rar, "File: f.bin\r\nOpen archived file?"},
           {"MZ\x90", DownloadKind::Other, "File: f.bin\r\n\r\nOpen Directory?"},
           {"<html>", DownloadKind::Other, "File: f.bin\r\n\r\nOpen Directory?"},
           {"P", DownloadKind::Other, "File: f.bin\r\n\r\nOpen Directory?"},
           // Its version read from its bytes, never by running it.
           // (Built here: as one literal it would stamp this test program.)
           {"\x7F" "ELF junk " + std::string(kVersionStampPrefix) + std::string("\0 ", 2) +
                kVersionStampPrefix + "2.3.4-rc1\n",
            DownloadKind::Executable, "File: f.bin\r\nVer: 2.3.4-rc1\r\nOpen Directory?"}}) {
    test::WriteFileText(dir.file("f.bin"), c.bytes);
    EXPECT_EQ(DetectDownloadKind(dir.file("f.bin")), c.kind) << c.bytes;
    DownloadKind kind;
    EXPECT_EQ(OfferDownloadedText(dir.file("f.bin"), kind), c.offer);
  }
  // The programs carry their own stamp.
  EXPECT_EQ(ReadVersionStamp("/proc/self/exe"), VELOTAG_VERSION);
}

}  // namespace
}  // namespace velotag
