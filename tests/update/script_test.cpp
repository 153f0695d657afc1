// The upgrade script run by a real shell, and the archives it installs.
#include "update/script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/paths.h"
#include "support/textenc.h"
#include "helpers.h"
#include "update/extract.h"
#include "update/mirror.h"
#include "update/upgrade.h"

namespace velotag {
namespace {

using test::WriteFileText;

// The Windows batch text, in code page 852 bytes, with the rename lines of an
// archive whose program has another name.
TEST(BatchScript, TextRenameLinesAndCodePage) {
  BatchScriptInput in{"", "C:\\Zen\xC3\xA9k", " \xC3\x9Aj.exe ", "Velotag", "", true, ""};
  const Bytes bytes = StringToAnsi(BuildUpgradeScript(in));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "@echo off\r\ncd /d %~dp0\r\ntaskkill /F /IM Velotag.exe\r\necho wscript.sleep 3000 > wait.vbs\r\n"
            "echo waiting 3 sec\r\nwscript.exe wait.vbs\r\ndel Wait.vbs\r\n"
            "copy extracted\\*.* C:\\Zen\x82k\\\r\nrmdir /S /Q extracted\r\ndel /Q C:\\Zen\x82k\\Velotag.exe\r\n"
            "rename C:\\Zen\x82k\\\xE9j.exe Velotag.exe\r\nstart C:\\Zen\x82k\\Velotag.exe\r\n");
  in.systemExtracted = false;
  EXPECT_EQ(BuildUpgradeScript(in), "");  // nothing can unpack the archive
}

// upgrade.sh run by /bin/sh in a program folder whose name needs every
// kind of quoting.
TEST(ShellScript, ReplacesRenamesRestoresAndWaits) {
  struct Case {
    std::string running, failing;
    bool waitsOnUs;
    int exitCode;
    std::string logged, started;
  };
  for (const Case& c : std::vector<Case>{
           {"velotag 2", "", false, 0, "upgraded", "new --a b\n"},
           {"velotag", "missing", false, 1, "cannot copy missing: the old program stays", ""},
           {"velotag", "", true, 1, "the program did not end; nothing was replaced", ""}}) {
    test::TempDir dir;
    const std::string program = dir.file("it's a \"q\" $HOME `id` \\/");
    const std::string extracted = dir.file("dl/extracted/");
    ASSERT_TRUE(CreatePath(program + "lib/") && CreatePath(extracted + "lib/"));
    // Programs that note they were started, and with what.
    for (const auto& [path, which] : {std::pair{program + c.running, "old"},
                                      std::pair{extracted + "velotag", "new"}}) {
      WriteFileText(path, "#!/bin/sh\necho \"" + std::string(which) +
                              " $*\" > \"$(dirname \"$0\")/started\"\n");
      ::chmod(path.c_str(), 0755);
    }
    WriteFileText(program + "lib/x", "old lib");
    WriteFileText(extracted + "lib/x", "new lib");
    ShellUpgradePlan p{program, extracted, dir.file("dl/old/"), dir.file("log"),
                       {"velotag", "lib"}, "velotag", c.running, {"--a b"}, ::getpid(), "1", 0, 1};
    if (!c.failing.empty()) p.names.push_back(c.failing);
    // Our own process, or one that had our id before (another start time).
    if (c.waitsOnUs) p.startTime = ProcessStartTime(::getpid());
    std::string script = BuildUpgradeShellScript(p);
    EXPECT_EQ(script.find("mv -f") != std::string::npos, c.running != "velotag");
    WriteFileText(dir.file("upgrade.sh"), script);
    EXPECT_EQ(test::RunProcess({"/bin/sh", dir.file("upgrade.sh")}).exitCode, c.exitCode);
    std::string log = test::ReadText(dir.file("log"));
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    const bool done = c.exitCode == 0;
    EXPECT_EQ(test::ReadText(program + "lib/x"), done ? "new lib" : "old lib");
    EXPECT_NE(test::ReadText(program + c.running).find(done ? "new" : "old"), std::string::npos);
    EXPECT_EQ(GetPathType(program + "velotag"), done && c.running != "velotag" ? kPathMissing : kPathFile);
    EXPECT_EQ(GetPathType(program + "missing"), kPathMissing);
    for (int i = 0; i < 100 && done && GetPathType(program + "started") != kPathFile; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(done ? test::ReadText(program + "started") : "", c.started);
    EXPECT_EQ(GetPathType(program + "started") == kPathFile, done);
  }
}

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
