#include "update/script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/paths.h"
#include "support/textenc.h"
#include "helpers.h"
#include "update/upgrade.h"

namespace velotag {
namespace {

using test::WriteFileText;

TEST(QuoteIfNeeded, AddsTheMissingQuotes) {
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"  a b ", "\"a b\""}, {"\"a b\"", "\"a b\""}, {"a b\"", "\"a b\""}, {"ab", "ab"},
           {"\"ab", "\"ab\""},     {"a\"b", "a\"b"},         {"", ""}}) {
    EXPECT_EQ(QuoteIfNeeded(in), out) << in;
  }
}

TEST(BatchScript, TextRenameLinesAndCodePage) {
  BatchScriptInput in{"C:\\Program Files\\Velotag\\Velotag\\Velotag.zip", "C:\\Program Files\\Velotag",
                      "Velotag.exe", "Velotag", "C:\\Program Files\\WinRAR", false,
                      "C:\\PROGRA~1\\Velotag\\Velotag.exe"};
  EXPECT_EQ(BuildUpgradeScript(in),
            "@setlocal\r\n@echo off\r\ncd /d %~dp0\r\n"
            "set path=\"C:\\Program Files\\WinRAR\\\";%path%\r\nmkDir extracted\r\n"
            "winrar.exe e -o+ \"C:\\Program Files\\Velotag\\Velotag\\Velotag.zip\" extracted\r\n"
            "taskkill /F /IM Velotag.exe\r\necho wscript.sleep 3000 > wait.vbs\r\n"
            "echo waiting 3 sec\r\nwscript.exe wait.vbs\r\ndel Wait.vbs\r\n"
            "copy extracted\\*.* \"C:\\Program Files\\Velotag\\\"\r\nrmdir /S /Q extracted\r\n"
            "start C:\\PROGRA~1\\Velotag\\Velotag.exe\r\n");
  in.archiverFolder.clear();
  EXPECT_EQ(BuildUpgradeScript(in), "");  // nothing can unpack the archive
  in.systemExtracted = true;
  in.programFolder = "C:\\Zenék\\";
  for (const auto& [newExe, lines] : std::vector<std::pair<std::string, std::string>>{
           {"vELOTAG.EXE", ""},
           {" Új.exe ", "del /Q C:\\Zen\x82k\\Velotag.exe\r\nrename C:\\Zen\x82k\\\xE9j.exe "
                         "Velotag.exe\r\n"}}) {
    in.newExeName = newExe;
    Bytes bytes = StringToAnsi(BuildUpgradeScript(in));  // code page 852 bytes
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("rmdir /S /Q extracted\r\n" + lines + "start"), std::string::npos) << text;
  }
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
           {"velotag", "", false, 0, "upgraded", "new --a b\n"},
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

}  // namespace
}  // namespace velotag
